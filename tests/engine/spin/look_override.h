#pragma once
#include <initializer_list>
#include <utility>
#include <string>

#include "look/look.h"
#include "support/support.h"

// Installs the shipped look with some keys replaced, and the shipped look again when it
// goes out of scope.
class LookOverride {
public:
    explicit LookOverride(std::initializer_list<std::pair<std::string, std::string>> keys) {
        std::string text = readFile(shippedLook());
        for (const auto& [k, v] : keys) text += "\n" + k + "=\"" + v + "\"";
        installLook(Look::parse(text));
    }
    ~LookOverride() { installLook(Look::parse(readFile(shippedLook()))); }
    LookOverride(const LookOverride&) = delete;
    LookOverride& operator=(const LookOverride&) = delete;
};
