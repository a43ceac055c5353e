// flock() keeps the lock with the open file description, so it lives exactly as long as the
// process (or a child that inherited the descriptor; O_CLOEXEC keeps jobs and helpers from
// inheriting it). The file itself stays behind and is reused by the next instance.
#include "platform/instancelock.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

bool IsPrivateFolder(const std::string& path, std::string* error)
{
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        *error = path + ": not a folder";
        return false;
    }
    if (st.st_uid != getuid()) {
        *error = path + ": owned by another user";
        return false;
    }
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        *error = path + ": writable by other users";
        return false;
    }
    return true;
}

} // namespace

InstanceLock::InstanceLock(std::string name) : m_name(std::move(name)) {}

InstanceLock::~InstanceLock()
{
    Release();
}

std::string InstanceLock::LockFolder(const std::string& name, std::string* error)
{
    std::string ignored;
    if (error == nullptr) {
        error = &ignored;
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') {
        std::string folder = runtime;
        struct stat st {};
        if (stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid() &&
            (st.st_mode & (S_IWGRP | S_IWOTH)) == 0) {
            return folder;
        }
    }
    std::string folder = "/tmp/" + name + "-" + std::to_string(getuid());
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        *error = folder + ": " + std::strerror(errno);
        return {};
    }
    // An existing entry is used only when it is our own private folder, never a link that
    // someone else planted to redirect the lock file.
    if (!IsPrivateFolder(folder, error)) {
        return {};
    }
    return folder;
}

InstanceLock::Result InstanceLock::TryAcquire()
{
    if (m_fd >= 0) {
        return Acquired;
    }
    m_error.clear();
    if (m_name.empty() || m_name.find('/') != std::string::npos) {
        m_error = "invalid lock name";
        return Unavailable;
    }
    std::string folder = LockFolder(m_name, &m_error);
    if (folder.empty()) {
        return Unavailable;
    }
    m_path = folder + "/" + m_name + ".lock";
    int fd = open(m_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        m_error = m_path + ": " + std::strerror(errno);
        return Unavailable;
    }
    int rc;
    do {
        rc = flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        int err = errno;
        close(fd);
        if (err == EWOULDBLOCK) {
            return HeldElsewhere;
        }
        m_error = m_path + ": " + std::strerror(err);
        return Unavailable;
    }
    m_fd = fd;
    return Acquired;
}

void InstanceLock::Release()
{
    if (m_fd >= 0) {
        flock(m_fd, LOCK_UN);
        close(m_fd);
        m_fd = -1;
    }
}
