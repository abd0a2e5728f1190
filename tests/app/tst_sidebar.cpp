#include <QtTest>

#include "support.h"
#include "Views/backdrop.h"
#include "Views/canvas.h"
#include "Views/caption.h"
#include "Views/content.h"
#include "Views/scrollbar.h"
#include "Views/sidebar.h"

#include <QScrollArea>
#include <QScrollBar>

// The settings column and the render footer against a stand-in engine that writes what it is
// asked to after a short pause, and fails for inputs named "bad".
class SidebarTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString in(const QString& name) const { return m_dir.path() + "/in/" + name; }
    // Key presses that carry text outside ASCII, as a keyboard layout or input method gives it.
    static void typeText(QWidget* w, const QString& text) {
        for (QChar c : text) {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
            QApplication::sendEvent(w, &press);
        }
    }

    std::unique_ptr<Studio> fresh(const QStringList& shapes, const QString& outRoot = {}) {
        auto studio = support::makeStudio(support::caseDir(m_dir), shapes);
        if (!outRoot.isEmpty()) studio->setOutRoot(outRoot);
        return studio;
    }

private slots:
    void initTestCase() {
        support::makeBundle(m_dir.path() + "/bin",
                            "case \"$2\" in *bad*) echo \"no good\" >&2; exit 1 ;; esac\n"
                            "sleep 0.15\n"
                            "printf s > \"$3\"\n");
        Engine::setAppDir(m_dir.path() + "/bin");
        qputenv("TMPDIR", QFile::encodeName(m_dir.path()));
        qputenv("HOME", QFile::encodeName(m_dir.path() + "/home"));
    }

    void sectionsAndRows() {
        auto studio = fresh({"vertical"});
        Sidebar bar(*studio);
        QCOMPARE(bar.shapeRows().size(), 5);

        // A click on a row toggles its shape; the last chosen shape stays.
        QTest::mouseClick(bar.shapeRows()[3], Qt::LeftButton);
        QVERIFY(studio->hasShape(Shape::square));
        QTest::mouseClick(bar.shapeRows()[0], Qt::LeftButton);
        QTest::mouseClick(bar.shapeRows()[3], Qt::LeftButton);
        QVERIFY(studio->hasShape(Shape::square));
        QVERIFY(bar.shapeRows()[3]->isOn());
        QVERIFY(!bar.shapeRows()[0]->isOn());

        // The theme picker and the spin switch write the model and follow it.
        emit bar.themePicker()->activated(1);
        QCOMPARE(studio->theme(), Theme::light);
        studio->setTheme(Theme::dark);
        QCOMPARE(bar.themePicker()->selected(), 0);
        QTest::mouseClick(bar.spinSwitch(), Qt::LeftButton);
        QVERIFY(studio->spin());
        studio->setSpin(false);
        QVERIFY(!bar.spinSwitch()->isChecked());
    }

    void idleStatus_data() {
        QTest::addColumn<QStringList>("inputs");
        QTest::addColumn<QStringList>("shapes");
        QTest::addColumn<QString>("status");
        QTest::newRow("nothing") << QStringList{} << QStringList{"vertical"}
                                 << "Add a screenshot or recording to begin";
        QTest::newRow("2 x 3") << QStringList{"Name.png", "b.png"} << QStringList{"vertical", "horizontal", "square"}
                               << "6 files → ~/Desktop/Name_trevalo";
        QTest::newRow("singular") << QStringList{"Name.png"} << QStringList{"square"}
                                  << "1 file → ~/Desktop/Name_trevalo";
    }

    void idleStatus() {
        QFETCH(QStringList, inputs);
        QFETCH(QStringList, shapes);
        QFETCH(QString, status);
        auto studio = fresh(shapes, m_dir.path() + "/home/Desktop");
        RenderFooter footer(*studio);
        QStringList paths;
        for (const QString& n : inputs) paths << in(n);
        studio->add(paths);
        QCOMPARE(footer.status(), status);
        QCOMPARE(footer.button()->isEnabled(), !inputs.isEmpty());
    }

    void renderingThenFinished() {
        auto studio = fresh({"vertical"});
        RenderFooter footer(*studio);
        QStringList paths;
        for (int i = 1; i <= 7; ++i) paths << in(QString("s%1.png").arg(i));
        studio->add(paths);
        QStringList seen;
        QList<double> fractions;
        connect(studio.get(), &Studio::phaseChanged, this, [&] {
            seen << footer.status();
            fractions << footer.progress()->target();
            QCOMPARE(footer.button()->text(), studio->phase().isRendering() ? QString("Cancel") : QString("Render"));
            QVERIFY(footer.button()->isEnabled());
        });
        studio->render();
        QTRY_VERIFY_WITH_TIMEOUT(!studio->phase().isRendering(), 20000);
        const qsizetype at = seen.indexOf("Rendering 3 of 7");
        QVERIFY2(at >= 0, qPrintable(seen.join(" | ")));
        QCOMPARE(fractions[at], 3.0 / 7);
        QCOMPARE(seen.first(), QString("Rendering 0 of 7"));
        QCOMPARE(footer.status(), "✓ 7 files · " + QString::number(studio->phase().seconds) + "s");
    }

    void finishedSummaries_data() {
        QTest::addColumn<QStringList>("inputs");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("failures");
        QTest::addColumn<bool>("show");
        // %1 stands for the seconds the run took.
        QTest::newRow("one file") << QStringList{"one.png"} << "✓ 1 file · %1s"
                                  << "" << true;
        QTest::newRow("nothing") << QStringList{"bad.png"} << "✗ Nothing rendered"
                                 << "bad.png — no good" << false;
        QTest::newRow("some failed") << QStringList{"bad.png", "good.png", "bad2.png"} << "✓ 1 file · %1s"
                                     << "bad.png — no good\nbad2.png — no good" << true;
    }

    void finishedSummaries() {
        QFETCH(QStringList, inputs);
        QFETCH(QString, status);
        QFETCH(QString, failures);
        QFETCH(bool, show);
        auto studio = fresh({"vertical"});
        RenderFooter footer(*studio);
        QStringList paths;
        for (const QString& n : inputs) paths << in(n);
        studio->add(paths);
        studio->render();
        QTRY_COMPARE_WITH_TIMEOUT(studio->phase().kind, Phase::Case::finished, 20000);
        if (status.contains("%1")) status = status.arg(studio->phase().seconds);
        QCOMPARE(footer.status(), status);
        QCOMPARE(footer.failures(), failures);
        QCOMPARE(footer.showButton()->isVisibleTo(&footer), show);
        // Any change settles the banner back into the plan line.
        studio->toggle(Shape::square);
        QVERIFY(footer.status().contains(" → "));
    }

    void cancelFromTheButton() {
        auto studio = fresh({"vertical", "square"});
        RenderFooter footer(*studio);
        studio->add({in("a.png"), in("b.png"), in("c.png")});
        QTest::mouseClick(footer.button(), Qt::LeftButton);
        QVERIFY(studio->phase().isRendering());
        QCOMPARE(footer.button()->text(), QString("Cancel"));
        QTest::mouseClick(footer.button(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(studio->phase(), Phase::idle(), 10000);
        QCOMPARE(footer.button()->text(), QString("Render"));
        QTRY_COMPARE(Engine::liveCount(), 0);
    }

    void everythingReachableAtTheMinimumSize() {
        auto studio = fresh({"vertical"});
        ContentView content(*studio);
        content.resize(ContentView::minimum);
        content.show();
        QVERIFY(QTest::qWaitForWindowExposed(&content));
        Sidebar* bar = content.sidebar();
        // Whether all of `w` shows, not clipped by a scrolled or squeezed parent.
        auto inView = [&](QWidget* w) {
            QRect visible = content.rect();
            for (QWidget* p = w; p && p != &content; p = p->parentWidget())
                visible &= QRect(p->mapTo(&content, QPoint(0, 0)), p->size());
            return w->isVisible() && visible.size() == w->size();
        };
        studio->add({in("Name.png")});
        QTRY_VERIFY(inView(bar->exportRows()->changeButton()));
        QVERIFY(inView(bar->exportRows()->nameField()));
        QVERIFY(inView(bar->footer()->button()));
        QVERIFY(inView(bar->backdropKey()));
        QVERIFY(inView(bar->captionRows()->subtitleField()));
        QVERIFY(inView(bar->captionRows()->placePicker()));
        QVERIFY(!bar->scrollBar()->isVisible());
        // Video outputs lengthen the sound's caption to two lines; the sections still fit.
        studio->setSpin(true);
        QTRY_COMPARE(bar->audioRow()->caption(), QString("Plays from the start, cut where each video ends"));
        QTRY_VERIFY(inView(bar->exportRows()->changeButton()));
        QVERIFY(!bar->scrollBar()->isVisible());
        studio->setSpin(false);
        // The desktop's own bars never show on the window's clay.
        for (QScrollBar* own : content.findChildren<QScrollBar*>()) QVERIFY(!own->isVisible());

        // A long list of failures scrolls in the footer: the button stays in the window, and
        // the sections it squeezes scroll with the clay bar.
        QStringList bad;
        for (int i = 0; i < 14; ++i) bad << in(QString("bad%1.png").arg(i));
        studio->add(bad);
        studio->render();
        QTRY_COMPARE_WITH_TIMEOUT(studio->phase().kind, Phase::Case::finished, 20000);
        QCOMPARE(bar->footer()->failures().count(u'\n'), 13);
        QTRY_VERIFY(inView(bar->footer()->button()));
        QVERIFY(inView(bar->footer()->showButton()));
        QTRY_VERIFY(bar->scrollBar()->isVisible());
        bar->scrollBar()->setValue(bar->scrollBar()->maximum());
        QTRY_VERIFY(inView(bar->exportRows()->changeButton()));
    }

    void captionSectionEditsTheSelectedInput() {
        auto studio = fresh({"vertical"});
        Sidebar bar(*studio);
        bar.show();
        QVERIFY(QTest::qWaitForWindowActive(&bar));
        CaptionRows* rows = bar.captionRows();
        CaptionEdit* title = rows->titleField();
        CaptionEdit* subtitle = rows->subtitleField();
        QVERIFY(!title->isEnabled());  // a caption belongs to an input
        studio->add({in("a.png"), in("b.png")});
        QVERIFY(title->isEnabled());
        QVERIFY(!subtitle->isEnabled());  // nor does a subtitle go without a title

        // Return breaks the line; a non-breaking space stays one.
        title->setFocus();
        QVERIFY(studio->editingName());  // Delete edits the text, it does not remove the input
        QTest::keyClicks(title, "Plan your");
        typeText(title, QString(QChar(0x00a0)) + "week");
        QTest::keyClick(title, Qt::Key_Return);
        typeText(title, QString::fromUtf8("\u05e9\u05dc\u05d5\u05dd"));
        const QString typed =
            QString("Plan your") + QChar(0x00a0) + "week\n" + QString::fromUtf8("\u05e9\u05dc\u05d5\u05dd");
        QCOMPARE(studio->caption(in("a.png")).title, typed);
        QCOMPARE(title->lines(), 2);
        QVERIFY(subtitle->isEnabled());
        QTest::keyClick(title, Qt::Key_Tab);
        QVERIFY(subtitle->hasFocus());
        QTest::keyClicks(subtitle, "in one glance");
        QCOMPARE(studio->caption(in("a.png")), (Caption{typed, "in one glance"}));
        QCOMPARE(studio->previewKey()->caption.subtitle, "in one glance");
        bar.footer()->button()->setFocus();
        QVERIFY(!studio->editingName());

        // Each input keeps its own; the fields follow the selection.
        studio->setSelected(in("b.png"));
        QCOMPARE(title->text(), QString());
        QCOMPARE(subtitle->text(), QString());
        QTest::keyClicks(title, "Other");
        QCOMPARE(studio->caption(in("b.png")).title, "Other");
        studio->setSelected(in("a.png"));
        QCOMPARE(title->text(), typed);
        QCOMPARE(subtitle->text(), "in one glance");
        studio->remove(studio->inputs().first());
        QCOMPARE(title->text(), "Other");

        // The place: two words on the section's title line.
        TokenChoice* place = rows->placePicker();
        QCOMPARE(place->selected(), 0);
        QTest::mouseClick(place, Qt::LeftButton, {}, place->wordRect(1).center().toPoint());
        QCOMPARE(studio->captionPlace(), CaptionPlace::bottom);
        studio->setCaptionPlace(CaptionPlace::top);
        QCOMPARE(place->selected(), 0);
    }

    void backdropPaletteSetsTheBackdrop() {
        auto studio = fresh({"vertical"});
        Sidebar bar(*studio);
        bar.show();
        QVERIFY(QTest::qWaitForWindowExposed(&bar));
        BackdropKey* key = bar.backdropKey();
        BackdropPalette* palette = key->palette();
        QCOMPARE(palette->swatches().size(), backdropChoices().size() + 1);
        QVERIFY(palette->swatches().first()->backdrop().isTheme());
        // The key shows what the output's base will be, in the middle of its chip.
        auto chipCentre = [&] {
            QImage img(key->size(), QImage::Format_RGB32);
            key->render(&img);
            return img.pixelColor(key->width() / 2, key->height() / 2);
        };
        QCOMPARE(chipCentre(), CanvasView::backdropFor(Theme::dark).top);

        QTest::mouseClick(key, Qt::LeftButton);
        QTRY_VERIFY(palette->isVisible());
        QTest::mouseClick(palette->swatches()[5], Qt::LeftButton);  // Coral
        QCOMPARE(studio->backdrop(), backdropChoices()[5].backdrop);
        QVERIFY(!palette->isVisible());
        QCOMPARE(chipCentre(), QColor(0xe8, 0x70, 0x5f));

        // A colour of the user's own shows on the custom swatch; the theme's own swatch takes it back.
        studio->setBackdrop(Backdrop::solid(0x123456));
        QCOMPARE(palette->custom()->backdrop(), Backdrop::solid(0x123456));
        QCOMPARE(chipCentre(), QColor(0x12, 0x34, 0x56));
        QTest::mouseClick(key, Qt::LeftButton);
        QTRY_VERIFY(palette->isVisible());
        QTest::mouseClick(palette->swatches().first(), Qt::LeftButton);
        QVERIFY(studio->backdrop().isTheme());
    }

    void audioCaptionFollowsVideoOutput() {
        auto studio = fresh({"vertical"});
        AudioRow row(*studio);
        const QString still = "Sound lands on recordings and spin clips";
        const QString video = "Plays from the start, cut where each video ends";
        QCOMPARE(row.label(), QString("No sound"));
        QCOMPARE(row.caption(), still);
        studio->add({in("shot.png")});
        QCOMPARE(row.caption(), still);
        studio->setSpin(true);
        QCOMPARE(row.caption(), video);
        studio->setSpin(false);
        QCOMPARE(row.caption(), still);
        studio->add({in("demo.mov")});
        QCOMPARE(row.caption(), video);

        support::writeFile(in("song.mp3"), "x");
        studio->add({in("song.mp3")});
        QCOMPARE(row.label(), QString("song.mp3"));
        QVERIFY(!row.clearButton()->isHidden());
        // The clear button keeps to the row's right end whatever the row's width.
        row.resize(260, row.sizeHint().height());
        QCOMPARE(row.clearButton()->geometry().right(), row.chooseButton()->width() - 6);
        QTest::mouseClick(row.clearButton(), Qt::LeftButton);
        QVERIFY(studio->audio().isEmpty());
        QCOMPARE(row.label(), QString("No sound"));
        QVERIFY(row.clearButton()->isHidden());
    }

    void nameFieldTypesTheName() {
        auto studio = fresh({"vertical"}, m_dir.path() + "/home/Desktop");
        ExportRows rows(*studio);
        QCOMPARE(rows.folderText(), QString("~/Desktop"));
        studio->add({in("Login_Screenshot_2.png")});
        QCOMPARE(rows.nameField()->text(), QString("Login_Screenshot"));
        rows.nameField()->clear();
        QTest::keyClicks(rows.nameField(), "Launch");
        QCOMPARE(studio->name(), QString("Launch"));
        QVERIFY(studio->nameEdited());
        studio->add({in("other.png")});
        QCOMPARE(rows.nameField()->text(), QString("Launch"));
    }
};

QTEST_MAIN(SidebarTest)
#include "tst_sidebar.moc"
