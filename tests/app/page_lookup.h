#pragma once
// Finding a page's controls by object name in the page tests.
#include <QPushButton>
#include <QTreeWidgetItem>
#include <QWidget>

namespace halvard::gui::testing {

// The page's child of that name; the test ends at once when there is none.
template <typename T = QPushButton>
T* child(QWidget* page, const char* name) {
    auto* found = page->findChild<T*>(QString::fromLatin1(name));
    if (!found) qFatal("no child named %s", name);
    return found;
}

// The tree item's child with that text, or null.
inline QTreeWidgetItem* childNamed(QTreeWidgetItem* parent, const QString& text) {
    for (int i = 0; i < parent->childCount(); ++i)
        if (parent->child(i)->text(0) == text) return parent->child(i);
    return nullptr;
}

}  // namespace halvard::gui::testing
