#pragma once
// The progress bar and the Pause, Resume and Stop buttons a page shows while its work runs.
#include <array>

#include <QHBoxLayout>
#include <QProgressBar>
#include <QPushButton>

#include "app/page_worker.h"
#include "app/widgets.h"

namespace halvard::gui {

struct WorkerRow {
    QProgressBar* progress = nullptr;
    QPushButton* pause = nullptr;
    QPushButton* resume = nullptr;
    QPushButton* stop = nullptr;

    // The row the parse pages show ("progressBar", "pauseButton", "resumeButton", "stopButton"); Stop calls the
    // page's stop slot.
    template <typename Page>
    static WorkerRow forPage(Page* page, const QString& pauseText) {
        WorkerRow row;
        row.progress = named(new QProgressBar(page), "progressBar");
        row.progress->setTextVisible(false);
        row.pause = makeButton(pauseText, page, "pauseButton");
        row.resume = makeButton(QStringLiteral("Resume"), page, "resumeButton");
        row.stop = makeButton(QStringLiteral("Stop"), page, "stopButton");
        QObject::connect(row.stop, &QPushButton::clicked, page, &Page::stop);
        return row;
    }

    // Pause and Resume act on the page's worker directly.
    void pauseAndResume(PageWorker& worker) const {
        QObject::connect(pause, &QPushButton::clicked, pause, [&worker] { worker.pause(); });
        QObject::connect(resume, &QPushButton::clicked, resume, [&worker] { worker.resume(); });
    }

    // One row: the bar takes the room the buttons leave.
    QHBoxLayout* layOut() const {
        auto* row = new QHBoxLayout;
        row->addWidget(progress, 1);
        for (QPushButton* button : {pause, resume, stop}) row->addWidget(button);
        return row;
    }

    std::array<QWidget*, 4> widgets() const { return {progress, pause, resume, stop}; }

    void setVisible(bool visible) const {
        for (QWidget* widget : widgets()) widget->setVisible(visible);
    }
};

}  // namespace halvard::gui
