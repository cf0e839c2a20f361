// The speech-to-text node. Its class is part of the module's public surface,
// so it is declared in the public header; this is the folder's header for
// the rest of the code.
#pragma once

#include <sherpa/SherpaSTTNode.h>
