#include "crash_states.h"

#include "crash_operations.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unordered_set>
#include <vector>

namespace crash_states {
namespace fs = std::filesystem;
namespace {

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
    std::size_t other = final ? 1 : 2;
    const auto mix = [&](const std::string& s) {
        for (unsigned char c : s) fnv = (fnv ^ c) * 1099511628211ull;
        fnv = (fnv ^ 0xff) * 1099511628211ull;
        other = other * 31 + std::hash<std::string>{}(s);
    };
    for (const auto& [name, bytes] : state.files) {
        mix(name);
        mix(bytes);
    }
    return {fnv, other};
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
