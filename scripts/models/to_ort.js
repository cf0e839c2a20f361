// Converts ONNX models to ORT format with onnxruntime-node.
// Usage: node to_ort.js MODULE_DIR IN.onnx OUT.ort [IN.onnx OUT.ort ...]
'use strict';
const path = require('path');

async function main() {
  const args = process.argv.slice(2);
  if (args.length < 3 || (args.length - 1) % 2 !== 0) {
    console.error('usage: to_ort.js MODULE_DIR IN.onnx OUT.ort [...]');
    process.exit(2);
  }
  const ort = require(path.join(args[0], 'node_modules', 'onnxruntime-node'));
  for (let i = 1; i < args.length; i += 2) {
    const session = await ort.InferenceSession.create(args[i], {
      graphOptimizationLevel: 'basic',
      optimizedModelFilePath: args[i + 1],
      extra: {
        session: {save_model_format: 'ORT'},
        optimization: {minimal_build_optimizations: 'save'},
      },
    });
    if (session.release) await session.release();
  }
}

main().catch((e) => { console.error(e); process.exit(1); });
