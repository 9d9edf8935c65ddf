// The way through the pages: the image page leads to the parsing-modes page and that to the volume list page;
// Back shows the page before and destroys the current one; Enter and the close box end the application from any
// page. And the application wires its first page this way at start-up.
#include <QApplication>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "app/application.h"
#include "app/parsing_modes_page.h"
#include "app/volume_list_page.h"
#include "app/image_page.h"
#include "app/wizard_flow.h"
#include "disk_images.h"
#include "recording_sink.h"

using namespace halvard;
using namespace halvard::gui;
using namespace halvard::gui::testing;

namespace {

QPushButton* button(QWidget* page, const char* name) {
    auto* found = page->findChild<QPushButton*>(QString::fromLatin1(name));
    if (!found) qFatal("no button named %s", name);
    return found;
}

// The image page of a run, wired, with an image chosen.
struct Run {
    ApplicationState state;
    RecordingMessageSink messages;
    std::vector<QUrl> opened;
    ImagePage image{state};

    explicit Run(const QString& path) {
        image.setMessageSink(&messages);
        image.setUrlOpener([this](const QUrl& url) {
            opened.push_back(url);
            return true;
        });
        halvard::gui::wireImagePage(image, state);
        image.show();
        image.chooseImage(path);
    }

    ParsingModesPage* toModes() {
        button(&image, "nextButton")->click();
        return image.findChild<ParsingModesPage*>();
    }
};

}  // namespace

class WizardFlowTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;
    QString disk_;

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        using namespace halvard::gui::testing;
        disk_ = writeImage(dir_.path(), QStringLiteral("disk.vhdx"),
                           diskSpec(16 * kMiB, {{0, mbrSector({{0x07, 2048, 8192}})}}));
    }

    void forwardAndBackThroughThePages() {
        Run run(disk_);
        QPointer<ParsingModesPage> modes = run.toModes();
        QVERIFY(modes);
        QVERIFY(modes->isVisible());
        QVERIFY(!run.image.isVisible());
        QCOMPARE(modes->imagePath(), disk_);

        button(modes, "nextButton")->click();
        QPointer<VolumeListPage> list = modes->volumeListPage();
        QVERIFY(list);
        QVERIFY(list->isVisible());
        QVERIFY(!modes->isVisible());
        QCOMPARE(list->findChild<QTableWidget*>()->rowCount(), 1);
        QVERIFY(run.state.activeReader);

        button(list, "backButton")->click();
        QVERIFY(modes->isVisible());
        QTRY_VERIFY(!list);
        // The reader stays for the next volume list page.
        QVERIFY(run.state.activeReader);

        button(modes, "nextButton")->click();
        list = modes->volumeListPage();
        QVERIFY(list && list->isVisible());
        button(list, "backButton")->click();
        button(modes, "backButton")->click();
        QVERIFY(run.image.isVisible());
        QTRY_VERIFY(!modes);
        QTRY_VERIFY(!list);
        QVERIFY(run.messages.shown.isEmpty());
    }

    // The wizard is one window: the next page opens where the last one was, at its size, maximised when it was;
    // no page opens larger than the screen; each opens with the focus on its main control.
    void pagesKeepThePlaceOfTheWindow() {
        Run run(disk_);
        run.image.move(60, 40);
        run.image.resize(700, 520);
        ParsingModesPage* modes = run.toModes();
        QVERIFY(modes && modes->isVisible());
        QCOMPARE(modes->pos(), QPoint(60, 40));
        QCOMPARE(modes->size(), QSize(700, 520).expandedTo(modes->minimumSizeHint()));
        QVERIFY(modes->focusWidget());
        QVERIFY(modes->focusWidget()->objectName() != QStringLiteral("helpButton"));

        modes->showMaximized();
        button(modes, "nextButton")->click();
        VolumeListPage* list = modes->volumeListPage();
        QVERIFY(list && list->isVisible());
        QVERIFY(list->isMaximized());
        QCOMPARE(list->focusWidget(), list->findChild<QTableWidget*>());

        list->showNormal();
        list->hide();
        list->resize(20000, 20000);
        list->show();
        const QRect room = list->screen()->availableGeometry();
        QVERIFY2(list->width() <= room.width() && list->height() <= room.height(),
                 qPrintable(QStringLiteral("%1x%2").arg(list->width()).arg(list->height())));
    }

    void enterOnALaterPageEndsTheApplication() {
        Run run(disk_);
        QSignalSpy finished(&run.image, &QDialog::finished);
        ParsingModesPage* modes = run.toModes();
        button(modes, "nextButton")->click();
        VolumeListPage* list = modes->volumeListPage();
        QVERIFY(list);

        auto* table = list->findChild<QTableWidget*>();
        table->setFocus();
        QTest::keyClick(list, Qt::Key_Return);
        QCOMPARE(finished.count(), 1);
        QVERIFY(!list->isVisible());
        QVERIFY(run.messages.shown.isEmpty());  // no question
    }

    void closeBoxOnALaterPageAsksFirst() {
        Run run(disk_);
        QSignalSpy finished(&run.image, &QDialog::finished);
        ParsingModesPage* modes = run.toModes();

        run.messages.answers = {false, true};
        QTest::keyClick(modes, Qt::Key_Escape);
        QCOMPARE(finished.count(), 0);
        QVERIFY(modes->isVisible());
        QTest::keyClick(modes, Qt::Key_Escape);
        QCOMPARE(finished.count(), 1);
        QCOMPARE(run.messages.shown, (QStringList{QStringLiteral("? Do you want to Close Application ?"),
                                                  QStringLiteral("? Do you want to Close Application ?")}));
        // The home page opens on Yes, the way the image page opens it.
        QCOMPARE(run.opened.size(), std::size_t(1));
        QCOMPARE(run.opened[0], halvard::gui::homePageUrl());
    }

    void startUpLeadsFromTheImagePageToTheParsingModesPage() {
        QTemporaryDir lockDir;
        halvard::gui::Application application(lockDir.path());
        bool modesShown = false;
        QTimer::singleShot(0, [&] {
            ImagePage* image = application.imagePage();
            image->chooseImage(disk_);
            button(image, "nextButton")->click();
            auto* modes = image->findChild<ParsingModesPage*>();
            modesShown = modes && modes->isVisible() && !image->isVisible();
            if (modes) modes->accept();  // Enter on the later page ends the run
        });
        QCOMPARE(application.run(), 0);
        QVERIFY(modesShown);
    }
};

QTEST_MAIN(WizardFlowTest)
#include "wizard_flow_test.moc"
