#pragma once
// A message sink that remembers what a page would have shown and answers questions from a script.
#include <QString>
#include <QStringList>
#include <deque>
#include <string>

#include "common/sinks.h"

namespace halvard::gui::testing {

class RecordingMessageSink : public MessageSink {
public:
    void information(const std::string& text) override { shown << QString::fromStdString(text); }
    bool question(const std::string& text) override {
        shown << QStringLiteral("? ") + QString::fromStdString(text);
        if (answers.empty()) return false;
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
    }

    // Information texts as they were shown; questions carry a "? " in front.
    QStringList shown;
    std::deque<bool> answers;  // Yes = true; No when the script has run out
};

}  // namespace halvard::gui::testing
