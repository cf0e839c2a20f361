// The Quorvel framework: one header for everything an extension uses.
#pragma once

#include "AudioBuffer.h"
#include "AudioBus.h"
#include "AudioGraphResampler.h"
#include "AudioRingBuffer.h"
#include "EventEmitter.h"
#include "Extension.h"
#include "Logger.h"
#include "Metadata.h"
#include "Node.h"
#include "NodeFactory.h"
#include "QVAny.h"
#include "QuorvelObject.h"
#include "Result.h"
#include "AudioGraphDriver.h"
