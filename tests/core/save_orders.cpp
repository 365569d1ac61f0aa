// Saves the rules file of a program folder in one of several orders, for the
// crash-state tests to record:
//
//   save_orders <order> <program folder>
//
// Each reads data/unitrules.xml, sets the first attack line to 99 and writes
// the lines back. "core" is the editor's own save (RulesDocument::Save); the
// others write the same bytes in orders that a power cut is known to defeat.
#include "rules_document.h"

#include <cstdio>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace {

bool WriteAll(int fd, const std::string& bytes) {
    return ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

bool SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    const bool ok = fd >= 0 && ::fsync(fd) == 0;
    if (fd >= 0) ::close(fd);
    return ok;
}

// The new file beside the old one, renamed over it.
bool ThroughTemporary(const std::string& target, const std::string& bytes, bool syncFile, bool syncFolder) {
    const std::string folder = target.substr(0, target.find_last_of('/'));
    const std::string temp = folder + "/.unitrules.xml.saving-" + std::to_string(::getpid()) + "-0";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0 || !WriteAll(fd, bytes) || (syncFile && ::fsync(fd) != 0) || ::close(fd) != 0) return false;
    return ::rename(temp.c_str(), target.c_str()) == 0 && (!syncFolder || SyncFolder(folder));
}

// The old file's bytes replaced where they lie.
bool InPlace(const std::string& target, const std::string& bytes) {
    const int fd = ::open(target.c_str(), O_WRONLY | O_TRUNC);
    return fd >= 0 && WriteAll(fd, bytes) && ::fsync(fd) == 0 && ::close(fd) == 0;
}

// The old file deleted, then created anew and written.
bool DeleteThenCreate(const std::string& target, const std::string& bytes) {
    if (::unlink(target.c_str()) != 0) return false;
    const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    return fd >= 0 && WriteAll(fd, bytes) && ::fsync(fd) == 0 && ::close(fd) == 0 &&
           SyncFolder(target.substr(0, target.find_last_of('/')));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: save_orders core|no-fsync-before-rename|no-folder-fsync|in-place|"
                             "delete-then-create <program folder>\n");
        return 2;
    }
    const std::string order = argv[1];
    RulesDocument doc(argv[2]);
    std::string error;
    if (!doc.Load({}, {}, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    for (std::size_t i = 0; i < doc.LineCount(); ++i) {
        if (doc.Line(i).find("<ATTACK>") == std::string::npos) continue;
        doc.SetLine(i, "    <ATTACK>99</ATTACK>");
        break;
    }
    if (order == "core") {
        if (doc.Save({}, error)) return 0;
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::string bytes;
    for (std::size_t i = 0; i < doc.LineCount(); ++i) bytes.append(doc.Line(i)).append("\r\n");
    const std::string& target = doc.RulesPath();
    bool ok = false;
    if (order == "no-fsync-before-rename") ok = ThroughTemporary(target, bytes, false, true);
    else if (order == "no-folder-fsync") ok = ThroughTemporary(target, bytes, true, false);
    else if (order == "in-place") ok = InPlace(target, bytes);
    else if (order == "delete-then-create") ok = DeleteThenCreate(target, bytes);
    else return 2;
    if (!ok) std::perror(order.c_str());
    return ok ? 0 : 1;
}
