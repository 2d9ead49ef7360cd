// The single-instance rule between real Kovira processes.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <vector>

class SingleInstanceTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    std::vector<std::unique_ptr<QProcess>> running;

    // A copy of the executable in its own folder, with its own settings file.
    QString install(const QString& name, const QString& inputFolder) {
        QString folder = dir->filePath(name);
        QDir().mkpath(folder);
        QString exe = folder + "/kovira";
        QFile::remove(exe);
        if (!QFile::copy(qEnvironmentVariable("KOVIRA_EXE"), exe)) return {};
        QFile::setPermissions(exe, QFile::permissions(exe) | QFileDevice::ExeOwner);
        if (inputFolder != "<none>") {
            QFile ini(folder + "/kovira.ini");
            if (!ini.open(QIODevice::WriteOnly)) return {};
            ini.write(("[Global]\nInputFolder=" + inputFolder + "\n").toUtf8());
        }
        return exe;
    }

    QProcess* launch(const QString& exe) {
        auto p = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("KOVIRA_PROMPTER", "log");
        env.insert("XDG_RUNTIME_DIR", dir->filePath("run"));  // our own lock folder
        p->setProcessEnvironment(env);
        p->setWorkingDirectory(QFileInfo(exe).path());
        p->start(exe, {});
        running.push_back(std::move(p));
        return running.back().get();
    }

    // Waits until the process holds its lock: it then writes its settings back.
    bool waitUntilUp(QProcess* p, const QString& exe) {
        QString ini = QFileInfo(exe).path() + "/kovira.ini";
        QDeadlineTimer deadline(15000);
        while (!deadline.hasExpired()) {
            if (p->state() == QProcess::NotRunning) return false;
            QFile f(ini);
            if (f.open(QIODevice::ReadOnly) && f.readAll().contains("PuniOdgovor=0")) return true;
            QTest::qWait(25);
        }
        return false;
    }

    void expectRefused(const QString& exe) {
        QProcess* p = launch(exe);
        QVERIFY(p->waitForFinished(15000));
        QCOMPARE(p->exitCode(), 1);
        QVERIFY2(QString::fromUtf8(p->readAllStandardError()).contains(QString::fromUtf8("Program je već aktivan za isti folder!")),
                 "refusal message");
    }

private slots:
    void init() {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(!qEnvironmentVariable("KOVIRA_EXE").isEmpty());
    }
    void cleanup() {
        for (auto& p : running) {
            p->terminate();
            if (!p->waitForFinished(5000)) p->kill();
            p->waitForFinished(5000);
        }
        running.clear();
    }

    void sameFolderRefusedOtherFolderRuns() {
        QString a = install("a", "/srv/ulaz");
        QString b = install("b", "/srv/ulaz");
        QString c = install("c", "/srv/Ulaz");  // other letter case: another folder
        QVERIFY(waitUntilUp(launch(a), a));
        expectRefused(b);
        QVERIFY(waitUntilUp(launch(c), c));
    }

    void emptyFolderIsOneSharedName() {
        QString a = install("a", "<none>");  // first start: defaults, empty folder
        QString b = install("b", "");
        QProcess* first = launch(a);
        QVERIFY(waitUntilUp(first, a));
        QFile ini(QFileInfo(a).path() + "/kovira.ini");
        QVERIFY(ini.open(QIODevice::ReadOnly));
        QByteArray text = ini.readAll();
        QVERIFY(text.startsWith("[Global]\nBaseURL=\n"));
        QVERIFY(text.contains("\n[Kasa]\nNacPl=0\n"));
        expectRefused(b);
        QCOMPARE(first->state(), QProcess::Running);
    }
};

QTEST_GUILESS_MAIN(SingleInstanceTest)
#include "test_single_instance.moc"
