// make_rules: writes a synthetic unit-rules file.
//   make_rules OUT [--units N | --bytes N] [--seed S] [--padding N]
#include "rules_generator.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: make_rules OUT [--units N | --bytes N] [--seed S] [--padding N]\n";
        return 2;
    }
    GeneratorOptions options;
    for (int i = 2; i + 1 < argc; i += 2) {
        const unsigned long long value = std::strtoull(argv[i + 1], nullptr, 10);
        if (std::strcmp(argv[i], "--units") == 0) options.units = value;
        else if (std::strcmp(argv[i], "--bytes") == 0) options.targetBytes = value;
        else if (std::strcmp(argv[i], "--seed") == 0) options.seed = static_cast<unsigned>(value);
        else if (std::strcmp(argv[i], "--padding") == 0) options.fillerPadding = value;
        else {
            std::cerr << "make_rules: unknown option " << argv[i] << "\n";
            return 2;
        }
    }
    const GeneratedRules rules = GenerateRules(options);
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out.write(rules.bytes.data(), static_cast<std::streamsize>(rules.bytes.size()));
    out.close();
    if (!out) {
        std::cerr << "make_rules: cannot write " << argv[1] << "\n";
        return 1;
    }
    std::cout << argv[1] << ": " << rules.names.size() << " units, " << rules.bytes.size() << " bytes\n";
    return 0;
}
