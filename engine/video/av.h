#pragma once
// The one place the engine meets FFmpeg's C headers (through video/avhandles.h), and the
// error helpers every video file uses.
#include <string>

#include "video/avhandles.h"

// The library's own text for an error code.
std::string avError(int rc);
// Ends with "<what>: <library text>" when rc is negative; returns rc otherwise.
int avCheck(int rc, const std::string& what);
// Allocations that fail end the process: there is nothing sensible to do without them.
FramePtr newAVFrame();
// A w x h picture of a planar format, rows padded for vector code that writes past
// their end.
FramePtr newPicture(int w, int h, AVPixelFormat format);
PacketPtr newAVPacket();
// Keeps libav's own log off standard error, which carries exactly one line on failure.
void quietAV();

// Containers a recording or a sound may come in. Playlists, file lists and picture
// patterns are not among them: a file the user names never leads the engine on to read
// other files.
extern const char* const recordingFormats;
extern const char* const soundFormats;
// Opens a local file with only the listed demuxers and the file protocol; null when the
// file is none of them or cannot be read.
InputPtr openLocalInput(const std::string& path, const char* formats);
