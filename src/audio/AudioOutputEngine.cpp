#include "audio/AudioOutputEngine.h"

namespace ferrylantern {

AudioOutputEngine::~AudioOutputEngine() = default;

} // namespace ferrylantern
