#pragma once
// Drives the wizard the way a user does, from the image page to the browser page, for the tests that walk the
// whole road on a fixture image.
#include <QElapsedTimer>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTreeWidget>
#include <QtTest>

#include "app/parsing_modes_page.h"
#include "app/recovery_mode_page.h"
#include "app/volume_list_page.h"
#include "app/image_page.h"
#include "app/browser_page.h"
#include "app/wizard_flow.h"
#include "page_lookup.h"
#include "recording_sink.h"

namespace halvard::gui::testing {

// Where the fixture scripts leave the images the road is walked on.
inline const QString kFixtures = QStringLiteral(HALVARD_FIXTURE_DIR);

inline QStringList firstColumn(QTableWidget* list) {
    QStringList texts;
    for (int row = 0; row < list->rowCount(); ++row) texts << list->item(row, 0)->text();
    return texts;
}

// The wizard from its first page on one image, up to the recovery mode page or the browser.
struct Road {
    ApplicationState state;
    RecordingMessageSink messages;
    ImagePage image{state};

    explicit Road(const QString& imagePath) {
        image.setMessageSink(&messages);
        image.setUrlOpener([](const QUrl&) { return true; });
        wireImagePage(image, state);
        image.show();
        image.chooseImage(imagePath);
    }

    // `volumes` is how many volumes the list must show, `row` the one to take.
    RecoveryModePage* toRecoveryMode(int volumes = 1, int row = 0) {
        child(&image, "nextButton")->click();
        auto* modes = image.findChild<ParsingModesPage*>();
        if (!modes) return nullptr;
        child(modes, "nextButton")->click();
        VolumeListPage* list = modes->volumeListPage();
        if (!list) return nullptr;
        auto* table = child<QTableWidget>(list, "volumeList");
        if (table->rowCount() != volumes) return nullptr;
        table->selectRow(row);
        child(list, "nextButton")->click();
        return list->findChild<RecoveryModePage*>();
    }

    BrowserPage* toBrowser(const char* mode, int volumes = 1, int row = 0) {
        RecoveryModePage* recovery = toRecoveryMode(volumes, row);
        if (!recovery) return nullptr;
        child<QRadioButton>(recovery, mode)->click();
        child(recovery, "nextButton")->click();
        return recovery->findChild<BrowserPage*>();
    }
};

// True once the page's parse and worker have finished, false when they still run after `timeoutMs`.
inline bool waitForWork(BrowserPage* page, int timeoutMs = 20000) {
    QElapsedTimer timer;
    timer.start();
    while ((page->workerBusy() || page->parseRunning()) && timer.elapsed() < timeoutMs) QTest::qWait(10);
    return !page->workerBusy() && !page->parseRunning();
}

// Saves `item` into `folder` as a user does: the item made current, Save clicked, the question how many files to
// save answered yes. True once the work has finished.
inline bool saveInto(const QString& folder, BrowserPage* page, QTreeWidgetItem* item, RecordingMessageSink& messages,
                     int timeoutMs = 20000) {
    page->setFolderChooser([folder](QWidget*) { return folder; });
    item->treeWidget()->setCurrentItem(item);
    messages.answers = {true};
    child(page, "saveButton")->click();
    return waitForWork(page, timeoutMs);
}

inline void clickLabel(QTreeWidget* tree, QTreeWidgetItem* item) {
    tree->scrollToItem(item);
    const QRect rect = tree->visualItemRect(item);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, QPoint(rect.right() - 4, rect.center().y()));
}

}  // namespace halvard::gui::testing
