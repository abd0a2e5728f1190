#include <clocale>
#include <cstdio>

#include "look/look.h"
#include "base/commands.h"
#include "base/die.h"
#include "main/help.h"

namespace {

// What a command printed is its result (the "saved" lines, the size list): a run whose
// standard output could not take it has failed, though its files are written.
int endWithOutput() {
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) die("cannot write to standard output");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // Numbers in look.conf and options are C-locale text whatever the user's locale.
    std::setlocale(LC_NUMERIC, "C");

    // Help and version need nothing from the look file, so that even a broken install
    // can say what it is and how it is used.
    const std::string first = argc > 1 ? argv[1] : "";
    if (first == "--version") {
        std::printf("pellmar %s\n", TREVALO_VERSION);
        return endWithOutput();
    }
    if (first == "--help" || first == "help") {
        if (argc > 3) die("usage: pellmar help [COMMAND]");
        printHelp(argc == 3 ? argv[2] : "");
        return endWithOutput();
    }

    // The look file and its start-up keys come before the arguments, so a broken file
    // stops every invocation, even one that would only print its usage.
    installLook(Look::locate(argv[0]));

    Args args(argv + 1, argv + argc);
    if (args.empty()) die(usagePellmar);

    using Handler = void (*)(const Args&);
    static const std::pair<const char*, Handler> table[] = {
        {"frame", cmd_frame}, {"poster", cmd_poster},    {"still", cmd_still}, {"spin", cmd_spin},
        {"audio", cmd_audio}, {"gen-test", cmd_genTest}, {"plan", cmd_plan},   {"sizes", cmd_sizes},
    };
    const std::string word = args.front();
    const Args rest(args.begin() + 1, args.end());
    for (const auto& [name, handler] : table) {
        if (word == name) {
            handler(rest);
            return endWithOutput();
        }
    }
    die("unknown subcommand: " + word);
}
