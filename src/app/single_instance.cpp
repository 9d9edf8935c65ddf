#include "app/single_instance.h"

#include <QDir>
#include <QStandardPaths>

namespace halvard::gui {

QString SingleInstanceLock::defaultDirectory() {
    QString directory = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (directory.isEmpty()) directory = QDir::tempPath();
    return directory;
}

QString SingleInstanceLock::fileNameFor(const QString& objectName) {
    QString name = objectName.mid(objectName.lastIndexOf(QLatin1Char('\\')) + 1);
    name.remove(QLatin1Char('{')).remove(QLatin1Char('}'));
    for (QChar& c : name) {
        const bool keep = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                          (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
                          (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('.') ||
                          c == QLatin1Char('_') || c == QLatin1Char('-');
        if (!keep) c = QLatin1Char('_');
    }
    return name + QStringLiteral(".lock");
}

SingleInstanceLock::SingleInstanceLock(const QString& directory, const QString& objectName)
    : path_(QDir(directory).filePath(fileNameFor(objectName))), lock_(path_) {
    // The lock is held for as long as the program runs, so it must never pass for stale by its age; only a
    // lock whose process is gone is taken over.
    lock_.setStaleLockTime(0);
}

SingleInstanceLock::Status SingleInstanceLock::acquire() {
    if (lock_.isLocked() || lock_.tryLock(0)) return Status::Acquired;
    return lock_.error() == QLockFile::LockFailedError ? Status::HeldElsewhere : Status::Unavailable;
}

}  // namespace halvard::gui
