#pragma once
#include <string>
#include <vector>

using Args = std::vector<std::string>;

void cmd_frame(const Args& args);
void cmd_poster(const Args& args);
void cmd_still(const Args& args);
void cmd_spin(const Args& args);
void cmd_audio(const Args& args);
void cmd_genTest(const Args& args);
void cmd_plan(const Args& args);
void cmd_sizes(const Args& args);
