// The recorded calls cut into the operations of the persistence model
// (crash_states.h): what each call did to names and to bytes, and which
// calls made which operations durable.
#pragma once

#include "crash_states.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace crash_states {

[[noreturn]] void Refuse(const std::string& why);

struct Op {
    // kGrow: a write's new end of file, which may persist without its data.
    enum Kind { kCreate, kRename, kLink, kUnlink, kWrite, kGrow, kTruncate } kind;
    std::size_t call;     // 1-based index of the call that made it
    std::string name;     // name operations: the name made, renamed or removed
    std::string to;       // rename: the new name
    int inode = -1;
    std::uint64_t offset = 0;  // write: where; grow, truncate: the new size
    std::string data = {};
    bool names() const { return kind <= kUnlink; }
};

struct Barrier {
    std::size_t call;
    int inode;           // -1 for a folder or everything
    std::string folder;  // empty with inode -1: everything
};

struct Program {
    std::size_t calls = 0;
    std::vector<Op> ops;
    std::vector<Barrier> barriers;
    std::vector<std::string> initial;  // inode -> bytes before
};

// Replays the calls over the names as the program saw them, cutting them
// into operations. Throws std::runtime_error (Refuse) where the recording
// does not match before or leaves the model.
Program Cut(const Tree& before, const std::string& recording);

// True when op is durable after call k.
bool Durable(const Program& p, const Op& op, std::size_t k);

// Applies a data operation to a file's bytes.
void ApplyData(std::string& bytes, const Op& op);

}  // namespace crash_states
