#pragma once
#include "video/output.h"

// The frame command's turning-device outputs, drawn by this library: the device rests
// on the flat frame, turns once and rests again at spinFPS while the recording plays in
// its screen from the first slot on. cmd_frame (defined beside them) runs the frame
// command with these.
const TurningOutputs& spinOutputs();
