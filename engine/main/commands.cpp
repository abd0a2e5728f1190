#include "main/commands.h"

#include "main/die.h"

// Subcommands whose libraries have not landed yet answer with one clear line.
#ifndef PELLMAR_HAS_VIDEO
void cmd_frame(const Args&) { die("frame is not available in this build yet"); }
void cmd_poster(const Args&) { die("poster is not available in this build yet"); }
void cmd_audio(const Args&) { die("audio is not available in this build yet"); }
void cmd_genTest(const Args&) { die("gen-test is not available in this build yet"); }
#endif
#ifndef PELLMAR_HAS_SPIN
void cmd_spin(const Args&) { die("spin is not available in this build yet"); }
#endif
