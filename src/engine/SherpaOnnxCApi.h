// The part of the sherpa-onnx 1.13.4 C interface that this library uses.
//
// The engine ships without a header, so the declarations live here. Every
// struct is declared whole and in the engine's field order: the engine reads
// the whole struct, and a missing field would shift every later one. The
// static_asserts pin the sizes and offsets measured on x86-64 Linux; a
// different engine build is caught at start-up by SherpaOnnxGetVersionStr().
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

// ---- Text-to-speech ------------------------------------------------------

struct SherpaOnnxOfflineTtsVitsModelConfig {
  const char* model;
  const char* lexicon;
  const char* tokens;
  const char* data_dir;
  float noise_scale;
  float noise_scale_w;
  float length_scale;
  const char* dict_dir;
};

struct SherpaOnnxOfflineTtsMatchaModelConfig {
  const char* acoustic_model;
  const char* vocoder;
  const char* lexicon;
  const char* tokens;
  const char* data_dir;
  float noise_scale;
  float length_scale;
  const char* dict_dir;
};

struct SherpaOnnxOfflineTtsKokoroModelConfig {
  const char* model;
  const char* voices;
  const char* tokens;
  const char* data_dir;
  float length_scale;
  const char* dict_dir;
  const char* lexicon;
  const char* lang;
};

struct SherpaOnnxOfflineTtsKittenModelConfig {
  const char* model;
  const char* voices;
  const char* tokens;
  const char* data_dir;
  float length_scale;
};

struct SherpaOnnxOfflineTtsZipvoiceModelConfig {
  const char* tokens;
  const char* encoder;
  const char* decoder;
  const char* vocoder;
  const char* data_dir;
  const char* lexicon;
  float feat_scale;
  float t_shift;
  float target_rms;
  float guidance_scale;
};

struct SherpaOnnxOfflineTtsPocketModelConfig {
  const char* lm_flow;
  const char* lm_main;
  const char* encoder;
  const char* decoder;
  const char* text_conditioner;
  const char* vocab_json;
  const char* token_scores_json;
  int32_t voice_embedding_cache_capacity;
};

struct SherpaOnnxOfflineTtsSupertonicModelConfig {
  const char* duration_predictor;
  const char* text_encoder;
  const char* vector_estimator;
  const char* vocoder;
  const char* tts_json;
  const char* unicode_indexer;
  const char* voice_style;
};

struct SherpaOnnxOfflineTtsModelConfig {
  SherpaOnnxOfflineTtsVitsModelConfig vits;
  int32_t num_threads;
  int32_t debug;
  const char* provider;
  SherpaOnnxOfflineTtsMatchaModelConfig matcha;
  SherpaOnnxOfflineTtsKokoroModelConfig kokoro;
  SherpaOnnxOfflineTtsKittenModelConfig kitten;
  SherpaOnnxOfflineTtsZipvoiceModelConfig zipvoice;
  SherpaOnnxOfflineTtsPocketModelConfig pocket;
  SherpaOnnxOfflineTtsSupertonicModelConfig supertonic;
};

struct SherpaOnnxOfflineTtsConfig {
  SherpaOnnxOfflineTtsModelConfig model;
  const char* rule_fsts;
  int32_t max_num_sentences;
  const char* rule_fars;
  float silence_scale;
};

struct SherpaOnnxGeneratedAudio {
  const float* samples;
  int32_t n;
  int32_t sample_rate;
};

struct SherpaOnnxOfflineTts;

// ---- Online (streaming) recognition ---------------------------------------

struct SherpaOnnxOnlineTransducerModelConfig {
  const char* encoder;
  const char* decoder;
  const char* joiner;
};

struct SherpaOnnxOnlineParaformerModelConfig {
  const char* encoder;
  const char* decoder;
};

struct SherpaOnnxOnlineZipformer2CtcModelConfig {
  const char* model;
};

struct SherpaOnnxOnlineNemoCtcModelConfig {
  const char* model;
};

struct SherpaOnnxOnlineToneCtcModelConfig {
  const char* model;
};

struct SherpaOnnxOnlineModelConfig {
  SherpaOnnxOnlineTransducerModelConfig transducer;
  SherpaOnnxOnlineParaformerModelConfig paraformer;
  SherpaOnnxOnlineZipformer2CtcModelConfig zipformer2_ctc;
  const char* tokens;
  int32_t num_threads;
  const char* provider;
  int32_t debug;
  const char* model_type;
  const char* modeling_unit;
  const char* bpe_vocab;
  const char* tokens_buf;
  int32_t tokens_buf_size;
  SherpaOnnxOnlineNemoCtcModelConfig nemo_ctc;
  SherpaOnnxOnlineToneCtcModelConfig t_one_ctc;
};

struct SherpaOnnxFeatureConfig {
  int32_t sample_rate;
  int32_t feature_dim;
};

struct SherpaOnnxOnlineCtcFstDecoderConfig {
  const char* graph;
  int32_t max_active;
};

struct SherpaOnnxHomophoneReplacerConfig {
  const char* dict_dir;
  const char* lexicon;
  const char* rule_fsts;
};

struct SherpaOnnxOnlineRecognizerConfig {
  SherpaOnnxFeatureConfig feat_config;
  SherpaOnnxOnlineModelConfig model_config;
  const char* decoding_method;
  int32_t max_active_paths;
  int32_t enable_endpoint;
  float rule1_min_trailing_silence;
  float rule2_min_trailing_silence;
  float rule3_min_utterance_length;
  const char* hotwords_file;
  float hotwords_score;
  SherpaOnnxOnlineCtcFstDecoderConfig ctc_fst_decoder_config;
  const char* rule_fsts;
  const char* rule_fars;
  float blank_penalty;
  const char* hotwords_buf;
  int32_t hotwords_buf_size;
  SherpaOnnxHomophoneReplacerConfig hr;
};

struct SherpaOnnxOnlineRecognizerResult {
  const char* text;
  const char* tokens;
  const char* const* tokens_arr;
  float* timestamps;
  int32_t count;
  const char* json;
};

struct SherpaOnnxOnlineRecognizer;
struct SherpaOnnxOnlineStream;

// ---- Functions --------------------------------------------------------------

const char* SherpaOnnxGetVersionStr();
const char* SherpaOnnxGetGitSha1();

const SherpaOnnxOfflineTts* SherpaOnnxCreateOfflineTts(const SherpaOnnxOfflineTtsConfig* config);
void SherpaOnnxDestroyOfflineTts(const SherpaOnnxOfflineTts* tts);
int32_t SherpaOnnxOfflineTtsSampleRate(const SherpaOnnxOfflineTts* tts);
const SherpaOnnxGeneratedAudio* SherpaOnnxOfflineTtsGenerate(const SherpaOnnxOfflineTts* tts,
                                                             const char* text, int32_t sid,
                                                             float speed);
void SherpaOnnxDestroyOfflineTtsGeneratedAudio(const SherpaOnnxGeneratedAudio* audio);
// Called once per sentence with that sentence's samples (valid during the
// call only); return 1 to go on, 0 to stop. The result holds what was made.
typedef int32_t (*SherpaOnnxGeneratedAudioCallbackWithArg)(const float* samples, int32_t n, void* arg);
const SherpaOnnxGeneratedAudio* SherpaOnnxOfflineTtsGenerateWithCallbackWithArg(
    const SherpaOnnxOfflineTts* tts, const char* text, int32_t sid, float speed,
    SherpaOnnxGeneratedAudioCallbackWithArg callback, void* arg);

const SherpaOnnxOnlineRecognizer* SherpaOnnxCreateOnlineRecognizer(
    const SherpaOnnxOnlineRecognizerConfig* config);
void SherpaOnnxDestroyOnlineRecognizer(const SherpaOnnxOnlineRecognizer* recognizer);
const SherpaOnnxOnlineStream* SherpaOnnxCreateOnlineStream(
    const SherpaOnnxOnlineRecognizer* recognizer);
void SherpaOnnxDestroyOnlineStream(const SherpaOnnxOnlineStream* stream);
void SherpaOnnxOnlineStreamAcceptWaveform(const SherpaOnnxOnlineStream* stream,
                                          int32_t sample_rate, const float* samples, int32_t n);
int32_t SherpaOnnxIsOnlineStreamReady(const SherpaOnnxOnlineRecognizer* recognizer,
                                      const SherpaOnnxOnlineStream* stream);
void SherpaOnnxDecodeOnlineStream(const SherpaOnnxOnlineRecognizer* recognizer,
                                  const SherpaOnnxOnlineStream* stream);
const SherpaOnnxOnlineRecognizerResult* SherpaOnnxGetOnlineStreamResult(
    const SherpaOnnxOnlineRecognizer* recognizer, const SherpaOnnxOnlineStream* stream);
int32_t SherpaOnnxOnlineStreamIsEndpoint(const SherpaOnnxOnlineRecognizer* recognizer,
                                         const SherpaOnnxOnlineStream* stream);
void SherpaOnnxOnlineStreamReset(const SherpaOnnxOnlineRecognizer* recognizer,
                                 const SherpaOnnxOnlineStream* stream);
void SherpaOnnxDestroyOnlineRecognizerResult(const SherpaOnnxOnlineRecognizerResult* result);

}  // extern "C"

// Layout measured on the engine build this header describes (x86-64 Linux).
static_assert(sizeof(SherpaOnnxOfflineTtsVitsModelConfig) == 56);
static_assert(sizeof(SherpaOnnxOfflineTtsModelConfig) == 416);
static_assert(sizeof(SherpaOnnxOfflineTtsConfig) == 448);
static_assert(sizeof(SherpaOnnxGeneratedAudio) == 16);
static_assert(sizeof(SherpaOnnxOnlineModelConfig) == 136);
static_assert(sizeof(SherpaOnnxOnlineRecognizerConfig) == 272);
static_assert(sizeof(SherpaOnnxOnlineRecognizerResult) == 48);
static_assert(offsetof(SherpaOnnxOfflineTtsConfig, model.vits.data_dir) == 24);
static_assert(offsetof(SherpaOnnxOfflineTtsConfig, model.num_threads) == 56);
static_assert(offsetof(SherpaOnnxOfflineTtsConfig, model.provider) == 64);
static_assert(offsetof(SherpaOnnxOfflineTtsConfig, rule_fsts) == 416);
static_assert(offsetof(SherpaOnnxOfflineTtsConfig, max_num_sentences) == 424);
static_assert(offsetof(SherpaOnnxOfflineTtsConfig, silence_scale) == 440);
static_assert(offsetof(SherpaOnnxOnlineRecognizerConfig, model_config.zipformer2_ctc.model) == 48);
static_assert(offsetof(SherpaOnnxOnlineRecognizerConfig, model_config.tokens) == 56);
static_assert(offsetof(SherpaOnnxOnlineRecognizerConfig, model_config.num_threads) == 64);
static_assert(offsetof(SherpaOnnxOnlineRecognizerConfig, model_config.provider) == 72);
static_assert(offsetof(SherpaOnnxOnlineRecognizerConfig, decoding_method) == 144);
static_assert(offsetof(SherpaOnnxOnlineRecognizerConfig, enable_endpoint) == 156);
static_assert(offsetof(SherpaOnnxOnlineRecognizerConfig, ctc_fst_decoder_config.graph) == 192);
static_assert(offsetof(SherpaOnnxOnlineRecognizerConfig, hr.rule_fsts) == 264);
