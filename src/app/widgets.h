#pragma once
// Small widget makers the pages share. Every widget a test looks up carries an object name.
#include <QLabel>
#include <QPushButton>
#include <QString>

namespace halvard::gui {

template <typename Widget>
Widget* named(Widget* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

inline QLabel* makeLabel(const QString& text, QWidget* parent, const char* name) {
    return named(new QLabel(text, parent), name);
}

// Enter is each page's own command, so no button takes it as the default.
inline QPushButton* makeButton(const QString& text, QWidget* parent, const char* name) {
    auto* button = named(new QPushButton(text, parent), name);
    button->setAutoDefault(false);
    return button;
}

}  // namespace halvard::gui
