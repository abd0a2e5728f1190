#pragma once
#include <string>

// Writes the overview of pellmar (command empty) or the usage of one command to standard
// output. An unknown command word ends the process as dispatch would.
void printHelp(const std::string& command);
