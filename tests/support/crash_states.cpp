#include "crash_states.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <unordered_set>
#include <vector>

namespace crash_states {
namespace fs = std::filesystem;
namespace {

[[noreturn]] void Refuse(const std::string& why) { throw std::runtime_error("crash states: " + why); }

std::string FolderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::string Unescaped(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string FromHex(const std::string& hex) {
    if (hex.size() % 2) Refuse("odd hex data");
    std::string out(hex.size() / 2, '\0');
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<char>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
    return out;
}

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
// into operations.
Program Cut(const Tree& before, const std::string& recording) {
    Program p;
    std::map<std::string, int> names;
    std::vector<std::uint64_t> sizes;  // inode -> size as the program saw it
    for (const auto& [name, bytes] : before.files) {
        names[name] = static_cast<int>(p.initial.size());
        p.initial.push_back(bytes);
        sizes.push_back(bytes.size());
    }
    struct Open {
        int inode = -1;
        std::string folder;
    };
    std::map<int, Open> fds;
    const auto isFolder = [&](const std::string& path) { return path == "." || before.folders.count(path) > 0; };
    const auto inside = [](const std::string& path) {
        if (path.empty() || path[0] == '/') Refuse("a call reaches outside the folder: " + path);
        return path;
    };
    const auto fileOf = [&](int fd) {
        const auto it = fds.find(fd);
        if (it == fds.end()) Refuse("descriptor " + std::to_string(fd) + " was not opened in the recording");
        return it->second;
    };

    std::istringstream lines(recording);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty()) continue;
        const std::size_t call = ++p.calls;
        std::istringstream in(line);
        std::string verb;
        in >> verb;
        if (verb == "open") {
            int fd = -1, created = 0;
            std::string path, flags;
            in >> fd >> path >> flags >> created;
            path = inside(Unescaped(path));
            Open open;
            if (isFolder(path)) {
                open.folder = path;
            } else if (created) {
                if (names.count(path)) Refuse("created " + path + ", which was already there");
                open.inode = static_cast<int>(p.initial.size());
                p.initial.emplace_back();
                sizes.push_back(0);
                names[path] = open.inode;
                p.ops.push_back({Op::kCreate, call, path, {}, open.inode});
            } else {
                if (!names.count(path)) Refuse("opened " + path + ", which is not there");
                open.inode = names[path];
                if (std::stoul(flags, nullptr, 8) & 01000 /* O_TRUNC */) {
                    p.ops.push_back({Op::kTruncate, call, {}, {}, open.inode, 0});
                    sizes[static_cast<std::size_t>(open.inode)] = 0;
                }
            }
            fds[fd] = open;
        } else if (verb == "write") {
            int fd = -1;
            std::uint64_t offset = 0;
            std::string hex;
            in >> fd >> offset >> hex;
            const Open open = fileOf(fd);
            if (open.inode < 0) Refuse("a write to a folder");
            const std::string data = FromHex(hex);
            for (std::size_t done = 0; done < data.size();) {
                const std::uint64_t at = offset + done;
                const std::size_t piece = std::min<std::size_t>(data.size() - done, kBlock - at % kBlock);
                std::uint64_t& size = sizes[static_cast<std::size_t>(open.inode)];
                if (at + piece > size) {
                    size = at + piece;
                    p.ops.push_back({Op::kGrow, call, {}, {}, open.inode, size});
                }
                p.ops.push_back({Op::kWrite, call, {}, {}, open.inode, at, data.substr(done, piece)});
                done += piece;
            }
        } else if (verb == "truncate") {
            int fd = -1;
            std::uint64_t size = 0;
            in >> fd >> size;
            const int inode = fileOf(fd).inode;
            if (inode < 0) Refuse("a truncation of a folder");
            p.ops.push_back({Op::kTruncate, call, {}, {}, inode, size});
            sizes[static_cast<std::size_t>(inode)] = size;
        } else if (verb == "fsync" || verb == "fdatasync") {
            int fd = -1;
            in >> fd;
            const Open open = fileOf(fd);
            p.barriers.push_back({call, open.inode, open.folder});
        } else if (verb == "sync") {
            p.barriers.push_back({call, -1, {}});
        } else if (verb == "close") {
            int fd = -1;
            in >> fd;
            fds.erase(fd);
        } else if (verb == "rename" || verb == "link") {
            std::string from, to;
            in >> from >> to;
            from = inside(Unescaped(from));
            to = inside(Unescaped(to));
            if (!names.count(from)) Refuse(verb + " of " + from + ", which is not there");
            const int inode = names[from];
            if (from == to) continue;
            if (verb == "rename") names.erase(from);
            names[to] = inode;
            p.ops.push_back({verb == "rename" ? Op::kRename : Op::kLink, call, from, to, inode});
        } else if (verb == "unlink") {
            std::string path;
            in >> path;
            path = inside(Unescaped(path));
            if (!names.count(path)) Refuse("unlink of " + path + ", which is not there");
            p.ops.push_back({Op::kUnlink, call, path, {}, names[path]});
            names.erase(path);
        } else if (verb == "chmod" || verb == "chown" || verb == "setxattr") {
            // Not part of a state (see crash_states.h).
        } else {
            Refuse("a call the model does not cover: " + line.substr(0, 80));
        }
    }
    return p;
}

// True when op is durable after call k.
bool Durable(const Program& p, const Op& op, std::size_t k) {
    std::set<std::string> folders;
    if (op.names()) {
        folders.insert(FolderOf(op.name));
        if (op.kind == Op::kRename || op.kind == Op::kLink) folders.insert(FolderOf(op.to));
    }
    for (const Barrier& b : p.barriers) {
        if (b.call <= op.call || b.call > k) continue;
        if (b.inode < 0 && b.folder.empty()) return true;
        if (op.names()) {
            folders.erase(b.folder);
            if (folders.empty()) return true;
        } else if (b.inode == op.inode) {
            return true;
        }
    }
    return false;
}

void ApplyData(std::string& bytes, const Op& op) {
    if (op.kind == Op::kTruncate) {
        bytes.resize(op.offset, '\0');
        return;
    }
    if (op.kind == Op::kGrow) {
        if (bytes.size() < op.offset) bytes.resize(op.offset, '\0');
        return;
    }
    if (bytes.size() < op.offset + op.data.size()) bytes.resize(op.offset + op.data.size(), '\0');
    std::copy(op.data.begin(), op.data.end(), bytes.begin() + static_cast<std::ptrdiff_t>(op.offset));
}

using Choice = std::vector<bool>;  // which volatile operations of a group are kept

std::vector<Choice> Choices(std::size_t n) {
    std::vector<Choice> out;
    if (n <= kExhaustivePieces) {
        for (std::uint32_t mask = 0; mask < (1u << n); ++mask) {
            Choice c(n);
            for (std::size_t i = 0; i < n; ++i) c[i] = (mask >> i) & 1;
            out.push_back(c);
        }
        return out;
    }
    std::set<Choice> distinct;
    for (std::size_t j = 0; j <= n; ++j) {
        Choice prefix(n, false);
        std::fill(prefix.begin(), prefix.begin() + static_cast<std::ptrdiff_t>(j), true);
        distinct.insert(prefix);
    }
    for (std::size_t i = 0; i < n; ++i) {
        Choice allButOne(n, true), one(n, false);
        allButOne[i] = false;
        one[i] = true;
        distinct.insert(allButOne);
        distinct.insert(one);
    }
    return {distinct.begin(), distinct.end()};
}

bool Inexact(const std::vector<const Op*>& ops) {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> spans;
    for (const Op* op : ops) {
        if (op->kind == Op::kTruncate) return true;
        // A kept size adds zeros that a kept piece over them overwrites.
        if (op->kind == Op::kGrow) continue;
        spans.emplace_back(op->offset, op->offset + op->data.size());
    }
    std::sort(spans.begin(), spans.end());
    for (std::size_t i = 1; i < spans.size(); ++i)
        if (spans[i].first < spans[i - 1].second) return true;
    return false;
}

struct Key {
    std::uint64_t a, b;
    bool operator==(const Key&) const = default;
};
struct KeyHash {
    std::size_t operator()(const Key& k) const { return k.a ^ (k.b * 0x9e3779b97f4a7c15ull); }
};

// Two independent 64-bit hashes of a state: a collision of both is not a
// practical concern for a few thousand states.
Key KeyOf(const Tree& state, bool final) {
    std::uint64_t fnv = 1469598103934665603ull;
    std::size_t std = final ? 1 : 2;
    const auto mix = [&](const std::string& s) {
        for (unsigned char c : s) fnv = (fnv ^ c) * 1099511628211ull;
        fnv = (fnv ^ 0xff) * 1099511628211ull;
        std = std * 31 + std::hash<std::string>{}(s);
    };
    for (const auto& [name, bytes] : state.files) {
        mix(name);
        mix(bytes);
    }
    return {fnv, std};
}

}  // namespace

Tree ReadTree(const std::string& root) {
    Tree tree;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string relative = fs::relative(entry.path(), root).string();
        if (entry.is_directory()) {
            tree.folders.insert(relative);
        } else if (entry.is_regular_file()) {
            std::ifstream in(entry.path(), std::ios::binary);
            tree.files[relative] = std::string(std::istreambuf_iterator<char>(in), {});
        } else {
            Refuse("neither file nor folder: " + relative);
        }
    }
    return tree;
}

void WriteTree(const Tree& tree, const std::string& root) {
    for (const auto& folder : tree.folders) fs::create_directories(fs::path(root) / folder);
    for (const auto& [name, bytes] : tree.files) {
        std::ofstream out(fs::path(root) / name, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out) Refuse("cannot write " + name + " under " + root);
    }
}

Exploration Explore(const Tree& before, const std::string& recording,
                    const std::function<void(const Tree& state, bool final)>& visit) {
    const Program p = Cut(before, recording);
    Exploration result;
    result.calls = p.calls;
    result.operations = p.ops.size();
    std::unordered_set<Key, KeyHash> seen;

    for (std::size_t k = 0; k <= p.calls; ++k) {
        // The operations made by the first k calls: durable ones always
        // kept, the others grouped by what they belong to.
        std::vector<const Op*> nameOps;
        std::vector<bool> nameDurable;
        std::map<int, std::vector<const Op*>> dataOps;  // all of a file's, in order
        std::map<int, std::vector<std::size_t>> dataVolatile;  // their positions in dataOps
        for (const Op& op : p.ops) {
            if (op.call > k) break;
            const bool durable = Durable(p, op, k);
            if (op.names()) {
                nameOps.push_back(&op);
                nameDurable.push_back(durable);
            } else {
                auto& ops = dataOps[op.inode];
                if (!durable) dataVolatile[op.inode].push_back(ops.size());
                ops.push_back(&op);
            }
        }
        std::vector<std::size_t> nameVolatile;
        for (std::size_t i = 0; i < nameOps.size(); ++i)
            if (!nameDurable[i]) nameVolatile.push_back(i);
        if (nameVolatile.size() > 16) Refuse("more than 16 name operations not made durable");

        // Each file's possible contents, computed once per crash point.
        std::map<int, std::vector<std::string>> contents;
        const auto contentsOf = [&](int inode) -> const std::vector<std::string>& {
            auto found = contents.find(inode);
            if (found != contents.end()) return found->second;
            std::vector<std::string> out;
            const auto& ops = dataOps[inode];
            const auto& vol = dataVolatile[inode];
            if (vol.size() > kExhaustivePieces) {
                ++result.boundedGroups;
                std::vector<const Op*> volatileOps;
                for (std::size_t i : vol) volatileOps.push_back(ops[i]);
                if (Inexact(volatileOps)) ++result.inexactGroups;
            }
            for (const Choice& choice : Choices(vol.size())) {
                std::string bytes = p.initial[static_cast<std::size_t>(inode)];
                std::size_t v = 0;
                for (std::size_t i = 0; i < ops.size(); ++i) {
                    const bool isVolatile = v < vol.size() && vol[v] == i;
                    if (!isVolatile || choice[v]) ApplyData(bytes, *ops[i]);
                    if (isVolatile) ++v;
                }
                out.push_back(std::move(bytes));
            }
            return contents.emplace(inode, std::move(out)).first->second;
        };

        for (std::uint32_t mask = 0; mask < (1u << nameVolatile.size()); ++mask) {
            std::map<std::string, int> names;
            int initial = 0;
            for (const auto& [name, bytes] : before.files) names[name] = initial++;
            std::size_t v = 0;
            for (std::size_t i = 0; i < nameOps.size(); ++i) {
                const bool isVolatile = v < nameVolatile.size() && nameVolatile[v] == i;
                const bool kept = !isVolatile || ((mask >> v) & 1);
                if (isVolatile) ++v;
                if (!kept) continue;
                const Op& op = *nameOps[i];
                switch (op.kind) {
                case Op::kCreate: names[op.name] = op.inode; break;
                case Op::kLink: names[op.to] = op.inode; break;
                case Op::kRename:
                    if (names.count(op.name) && names[op.name] == op.inode) names.erase(op.name);
                    names[op.to] = op.inode;
                    break;
                case Op::kUnlink:
                    if (names.count(op.name) && names[op.name] == op.inode) names.erase(op.name);
                    break;
                default: break;
                }
            }
            // Only the files that have a name make a difference: enumerate
            // the contents of those, each combination once.
            std::vector<int> inodes;
            for (const auto& [name, inode] : names) inodes.push_back(inode);
            std::sort(inodes.begin(), inodes.end());
            inodes.erase(std::unique(inodes.begin(), inodes.end()), inodes.end());
            std::vector<std::size_t> pick(inodes.size(), 0);
            for (;;) {
                ++result.combinations;
                Tree state;
                state.folders = before.folders;
                for (const auto& [name, inode] : names) {
                    const auto at = std::lower_bound(inodes.begin(), inodes.end(), inode) - inodes.begin();
                    state.files[name] = contentsOf(inode)[pick[static_cast<std::size_t>(at)]];
                }
                const bool final = k == p.calls;
                if (seen.insert(KeyOf(state, final)).second) {
                    ++result.states;
                    visit(state, final);
                }
                std::size_t i = 0;
                for (; i < pick.size(); ++i) {
                    if (++pick[i] < contentsOf(inodes[i]).size()) break;
                    pick[i] = 0;
                }
                if (i == pick.size()) break;
            }
        }
    }
    return result;
}

}  // namespace crash_states
