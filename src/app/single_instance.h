#pragma once
// Keeps a second copy of the program from running beside the first. A lock file in the user's runtime folder
// stands in for a named kernel object: it is held for the life of the process, and a lock left behind by a
// process that died is recognised by its process id and taken over.
#include <QLockFile>
#include <QString>

namespace halvard::gui {

// The name the single-instance object has always had; the lock file is named after it.
inline constexpr const char* kInstanceObjectName = "Global\\{HALVARDTOOL.0_EXE_RUNNING1}";

class SingleInstanceLock {
public:
    enum class Status {
        Acquired,       // this process is the one instance
        HeldElsewhere,  // another running instance holds the lock
        Unavailable,    // the lock file could not be made (no such folder, no permission): run without it
    };

    // The runtime folder, or the temporary folder where the system has none.
    static QString defaultDirectory();
    // A file name made from an object name: the namespace prefix and braces go, anything that is not a
    // letter, digit, '.', '_' or '-' becomes '_', and ".lock" is appended.
    static QString fileNameFor(const QString& objectName);

    explicit SingleInstanceLock(const QString& directory = defaultDirectory(),
                                const QString& objectName = QString::fromLatin1(kInstanceObjectName));
    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

    Status acquire();
    bool isHeld() const { return lock_.isLocked(); }
    void release() { lock_.unlock(); }
    const QString& path() const { return path_; }

private:
    QString path_;
    QLockFile lock_;
};

}  // namespace halvard::gui
