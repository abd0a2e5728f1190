#include <QtTest>

#include "support.h"

using support::makeBundle;
using support::runNow;

// The engine runner against a stand-in `pellmar` that acts on its first argument.
class RunnerTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString bundle() const { return m_dir.path() + "/bin"; }
    QString marker() const { return m_dir.path() + "/started"; }

private slots:
    void initTestCase() {
        makeBundle(bundle(), "touch " + marker().toUtf8() +
                                 "\n"
                                 "case \"$1\" in\n"
                                 "  fail2) printf '\\n\\nfirst error\\r\\nsecond line\\n' >&2; exit 2 ;;\n"
                                 "  fail1) exit 1 ;;\n"
                                 "  warn) echo 'warning: slow' >&2; echo 'saved x'; exit 0 ;;\n"
                                 "  chatty) yes 'slow warning' | head -c 3000000 >&2; exit 3 ;;\n"
                                 "  latin) printf 'bad \\351 byte\\n' >&2; exit 1 ;;\n"
                                 "  killed) kill -KILL $$ ;;\n"
                                 "  env) env > \"$2\" ;;\n"
                                 "  sleep) exec sleep 30 ;;\n"
                                 "  frames) printf 'progr'; sleep .2; printf 'ess 1 4\\nsaved\\nprogress 4 4\\n' ;;\n"
                                 "esac\n");
        Engine::setAppDir(bundle());
    }
    void init() { QFile::remove(marker()); }

    void outcomes_data() {
        QTest::addColumn<QString>("word");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        using S = Outcome::Status;
        QTest::newRow("first non-empty line only") << "fail2" << int(S::failed) << "first error";
        QTest::newRow("silent failure") << "fail1" << int(S::failed) << "render failed";
        QTest::newRow("warnings on success") << "warn" << int(S::ok) << "";
        QTest::newRow("pipe never fills") << "chatty" << int(S::failed) << "slow warning";
        QTest::newRow("stray byte kept readable") << "latin" << int(S::failed) << "bad \uFFFD byte";
        QTest::newRow("any signal is cancellation") << "killed" << int(S::cancelled) << "cancelled";
    }
    void outcomes() {
        QFETCH(QString, word);
        QFETCH(int, status);
        QFETCH(QString, message);
        const Outcome o = runNow({word});
        QCOMPARE(int(o.status), status);
        QCOMPARE(o.message, message);
        QCOMPARE(Engine::liveCount(), 0);
    }

    void childSeesWholeEnvironmentAndLook() {
        qputenv("TREVALO_TEST_PROBE", "kept");
        qputenv("TREVALO_LOOK", "/elsewhere/look.conf");
        const QString dump = m_dir.path() + "/env.txt";
        QVERIFY(runNow({"env", dump}).ok());
        const QList<QByteArray> lines = support::readFile(dump).split('\n');
        QVERIFY(lines.contains("TREVALO_TEST_PROBE=kept"));
        QVERIFY(lines.contains("TREVALO_LOOK=" + QFile::encodeName(bundle() + "/look.conf")));
        QVERIFY(lines.contains("HOME=" + qgetenv("HOME")));
    }

    void cancelBeforeStartLaunchesNothing() {
        auto token = makeToken();
        token->cancel();
        QVERIFY(runNow({"warn"}, token).cancelled());
        QTest::qWait(100);
        QVERIFY(!QFile::exists(marker()));
    }

    void engineEndsWithItsContext() {
        auto* owner = new QObject;
        bool called = false;
        Engine::run({"sleep"}, makeToken(), owner, [&](Outcome) { called = true; });
        QTRY_VERIFY(QFile::exists(marker()));
        delete owner;
        QTRY_COMPARE(Engine::liveCount(), 0);
        QTest::qWait(50);
        QVERIFY(!called);
    }

    // An engine without its look file, or a look file without its engine, is no bundle.
    void missingBundle() {
        makeBundle(m_dir.path() + "/nolook", "touch " + marker().toUtf8() + "\n", false);
        support::writeFile(m_dir.path() + "/noengine/look.conf", "");
        for (const char* dir : {"/nolook", "/noengine"}) {
            Engine::setAppDir(m_dir.path() + dir);
            const Outcome o = runNow({"warn"});
            Engine::setAppDir(bundle());
            QCOMPARE(o.message, "render engine missing from the app bundle");
        }
        QTest::qWait(100);
        QVERIFY(!QFile::exists(marker()));
    }

    void launchFailureIsOneLine() {
        const QString dir = m_dir.path() + "/broken";
        makeBundle(dir, "");
        support::writeFile(dir + "/pellmar", "#!/nonexistent/interpreter\n");
        Engine::setAppDir(dir);
        const Outcome o = runNow({"warn"});
        Engine::setAppDir(bundle());
        QCOMPARE(o.status, Outcome::Status::failed);
        QVERIFY(!o.message.isEmpty() && !o.message.contains(u'\n'));
        QCOMPARE(Engine::liveCount(), 0);
    }

    // Progress lines arrive in pieces among other output; each whole one is passed on.
    void progressFromStandardOutput() {
        QList<double> seen;
        std::optional<Outcome> got;
        Engine::run(
            {"frames"}, makeToken(), this, [&](Outcome o) { got = o; }, [&](double f) { seen << f; });
        QTRY_VERIFY(got.has_value());
        QVERIFY(got->ok());
        QCOMPARE(seen, (QList<double>{0.25, 1.0}));
    }

    void progressLines_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<double>("fraction");  // -1: not a progress line
        QTest::newRow("plain") << QByteArray("progress 3 4") << 0.75;
        QTest::newRow("past the end") << QByteArray("progress 5 4") << 1.0;
        QTest::newRow("no total") << QByteArray("progress 0 0") << -1.0;
        QTest::newRow("negative") << QByteArray("progress -1 4") << -1.0;
        QTest::newRow("three numbers") << QByteArray("progress 1 2 3") << -1.0;
        QTest::newRow("a saved line") << QByteArray("saved /tmp/progress 1 2") << -1.0;
    }
    void progressLines() {
        QFETCH(QByteArray, line);
        QFETCH(double, fraction);
        QCOMPARE(Engine::progressOf(line).value_or(-1.0), fraction);
    }

    void backdropGreys() {
        const auto map = Engine::backdropsFrom("x=1\ntheme_dark=\"#3c3c3c,#111111\"\ntheme_dark=\"#ffffff\"\n");
        QCOMPARE(map.value(Theme::dark), 60 / 255.0);
        QVERIFY(!map.contains(Theme::light));
        QVERIFY(Engine::backdropsFrom("theme_light=\"#zz0000\"").isEmpty());
        // This bundle's look file has no light entry: the fall-back applies.
        QCOMPARE(Engine::backdrop(Theme::light), 209 / 255.0);
        QCOMPARE(Engine::backdrop(Theme::dark), 60 / 255.0);
    }
};

QTEST_GUILESS_MAIN(RunnerTest)
#include "tst_runner.moc"
