// ScenarioAttacker: the scenario suite's attackers, a program of its own so that the shipped
// host has no command that destroys files.
//   ScenarioAttacker CLASS FOLDER [--pause MS] [--limit N]   an attacker class over FOLDER
//   ScenarioAttacker owner FILE                              the benign case: one file encrypted
// Exit status: 0 done, 1 some files could not be changed (each named on stderr), 2 a bad
// command line.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/process.h"
#include "platform/process_image.h"
#include "platform/text.h"
#include "reference/scenario_attacker/attacks.h"

namespace fs = std::filesystem;

namespace {

int Usage(const char* problem) {
    std::fprintf(stderr,
                 "ScenarioAttacker: %s\n"
                 "usage: ScenarioAttacker CLASS FOLDER [--pause MS] [--limit N]\n"
                 "       ScenarioAttacker owner FILE   (encrypts FILE in place, the benign case)\n"
                 "classes (each over every regular file under FOLDER, in name order):\n",
                 problem);
    for (const attacker::AttackClass& attack : attacker::AttackClasses())
        std::fprintf(stderr, "  %-14s %s\n", attack.name, attack.what);
    std::fprintf(stderr, "exit status: 0 done, 1 some files not changed, 2 bad command line\n");
    return 2;
}

bool Number(const char* text, unsigned long& value) {
    char* end = nullptr;
    value = std::strtoul(text, &end, 10);
    return *text >= '0' && *text <= '9' && end != nullptr && *end == '\0';
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage("give a class and a folder (or owner and a file)");
    const std::string mode = argv[1];
    const fs::path target = fs::u8path(argv[2]);
    std::error_code ec;
    if (mode == "owner") {
        if (argc != 3) return Usage("owner takes one file and no options");
        if (!fs::is_regular_file(target, ec)) return Usage("owner needs an existing file");
        if (attacker::EncryptInPlace(target)) return 0;
        std::fprintf(stderr, "ScenarioAttacker: %s could not be encrypted; check that it is "
                             "readable and writable\n", argv[2]);
        return 1;
    }
    const attacker::AttackClass* chosen = nullptr;
    for (const attacker::AttackClass& attack : attacker::AttackClasses())
        if (mode == attack.name) chosen = &attack;
    if (chosen == nullptr) return Usage(("no class named '" + mode + "'").c_str());
    if (!fs::is_directory(target, ec)) return Usage("the folder to attack does not exist");
    attacker::AttackOptions options;
    if (mode == "slow") options.pauseMs = 3000;
    for (int i = 3; i < argc; i += 2) {
        unsigned long value = 0;
        if (i + 1 >= argc || !Number(argv[i + 1], value))
            return Usage((std::string(argv[i]) + " needs a number").c_str());
        if (std::strcmp(argv[i], "--pause") == 0) options.pauseMs = static_cast<uint32_t>(value);
        else if (std::strcmp(argv[i], "--limit") == 0) options.limit = value;
        else return Usage((std::string("unknown option ") + argv[i]).c_str());
    }
    options.self = platform::ToUtf8(platform::ProcessImagePath(platform::CurrentProcessId()));
    const size_t failed = chosen->run(target, options);
    return failed == 0 ? 0 : 1;
}
