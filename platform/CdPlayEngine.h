#pragma once

#include "platform/Mci.h"

#include <memory>

// The play engines of the drives: one per drive letter for the whole process, made on first
// use, so that what a device started plays on after the device is closed. An engine reads the
// disc on a thread of its own, a quarter of a second at a time, and streams it as 16-bit
// stereo at 44100 Hz through a looping sound buffer of a second; its position is the frame
// being heard. While it plays, the drive registry marks the drive playing. The threads are
// joined at process end.
namespace platform {

// A "cdaudio" device on the engine of the drive: what the media control layer opens unless a
// factory is set.
std::unique_ptr<TCdAudioDevice> OpenCdPlayDevice(char Letter);

} // namespace platform
