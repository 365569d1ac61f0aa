// The states a file system may be left in by a power cut or a kernel crash
// at any moment of a recorded run (fs_recorder.cpp), under a conservative
// persistence model (the abstract one of the ALICE study, OSDI 2014):
//
// - The recorded calls are cut into operations. A name operation (a file
//   created under a name, a rename, a link, an unlink) belongs to its folder;
//   a data operation (a write, a truncation) belongs to its file. A write is
//   cut at every 4096-byte block boundary of the file, and each piece is an
//   operation of its own: a write may persist in part, block by block. A
//   piece that lengthens the file makes one more operation, the new size,
//   which may persist without the piece's bytes.
// - fsync or fdatasync of a file makes its data operations issued before it
//   durable (its data and size), not its name; fsync of a folder makes the
//   name operations in it issued before durable; sync makes everything
//   durable. A rename between two folders needs both.
// - A crash after any call keeps every durable operation; of the others any
//   subset may be lost, whatever their order (a later one may persist without
//   an earlier one). Each kept operation is whole: a rename or a link is
//   atomic, a write piece is all there or not there. The kept operations
//   apply in the order they were made. A lost piece leaves what lay below
//   it: the file's earlier bytes, or zeros (a hole) where the file has grown
//   past them; where a real file system shows garbage instead, that is
//   neither the old file nor the new one either.
//   A crash in the middle of a call is a crash after it with part of its
//   operations lost.
// - close persists nothing. Permissions, owners and extended attributes are
//   recorded but not part of a state: only names and bytes are checked.
//
// Bound: the name operations not yet durable are enumerated in every subset
// (at most 16 of them, else the exploration refuses), and so are the data
// operations of a file up to kExhaustivePieces. Beyond that a file's lost
// operations are taken from representatives: none, all, every prefix in the
// order they were made, every "all but one", and every single one. For pieces that do not overlap (a save writing its file from
// front to back) this loses no outcome: each block then shows either its new
// bytes or what lay below (zeros when only the size was kept), whatever else
// was lost, so a state is whole only if every piece that changes a byte is
// kept, and every piece whose loss alone would spoil the file is found lost
// by an "all but one". Groups bound with overlapping pieces or truncations
// are counted apart (inexactGroups).
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <set>
#include <string>

namespace crash_states {

inline constexpr std::size_t kBlock = 4096;
inline constexpr std::size_t kExhaustivePieces = 10;

// A folder's regular files by relative path ("data/unitrules.xml") and its
// subfolders ("data").
struct Tree {
    std::set<std::string> folders;
    std::map<std::string, std::string> files;
    bool operator==(const Tree&) const = default;
};

Tree ReadTree(const std::string& root);
// Creates the tree's folders and files under root, which must be empty.
void WriteTree(const Tree& tree, const std::string& root);

struct Exploration {
    std::size_t calls = 0;          // recorded calls
    std::size_t operations = 0;     // the operations they were cut into
    std::size_t combinations = 0;   // kept-operation sets enumerated over all crash points
    std::size_t states = 0;         // distinct states visited
    std::size_t boundedGroups = 0;  // (crash point, file) groups taken from representatives
    std::size_t inexactGroups = 0;  // of these, groups with overlapping pieces or truncations
};

// Visits every distinct state a crash may leave, at each point from before
// the first recorded call to after the last, starting from before (the
// watched folder as it was when the recording began). final is true for a
// state of a crash after the last call, when the run had finished. Throws
// std::runtime_error when the recording is malformed, does not match before,
// or uses what the model does not cover.
Exploration Explore(const Tree& before, const std::string& recording,
                    const std::function<void(const Tree& state, bool final)>& visit);

}  // namespace crash_states
