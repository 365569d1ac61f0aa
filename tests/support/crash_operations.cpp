#include "crash_operations.h"

#include <algorithm>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>

namespace crash_states {
namespace {

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

}  // namespace

void Refuse(const std::string& why) { throw std::runtime_error("crash states: " + why); }

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

}  // namespace crash_states
