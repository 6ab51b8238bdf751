// The CUPS notifier as cupsd runs it: events on its standard input, rings at the service's
// socket (the private one of the test environment). A burst larger than the socket's queue must
// not lose the last ring, nor the end of the events.
#include "protocol/DoorbellMessage.h"

#include <QtTest>

#include <cups/cups.h>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
constexpr int SUBSCRIPTION = 7;
constexpr int BURST = 40; // the socket takes about ten before it is read

void WriteEvent(int fd, int sequence)
{
    ipp_t* event = ippNew();
    ippAddInteger(event, IPP_TAG_EVENT_NOTIFICATION, IPP_TAG_INTEGER, "notify-subscription-id",
                  SUBSCRIPTION);
    ippAddInteger(event, IPP_TAG_EVENT_NOTIFICATION, IPP_TAG_INTEGER, "notify-sequence-number",
                  sequence);
    ippAddString(event, IPP_TAG_EVENT_NOTIFICATION, IPP_TAG_KEYWORD, "notify-subscribed-event",
                 nullptr, "job-state-changed");
    ippAddString(event, IPP_TAG_EVENT_NOTIFICATION, IPP_TAG_NAME, "printer-name", nullptr, "Burst");
    ippWriteFile(fd, event);
    ippDelete(event);
}

char ProcessState(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) {
        return '?';
    }
    const QByteArray text = stat.readAll();
    const int close = text.lastIndexOf(')');
    return close >= 0 && close + 2 < text.size() ? text.at(close + 2) : '?';
}
} // namespace

class TestCupsNotifier : public QObject
{
    Q_OBJECT

private:
    int m_iSocket = -1;

    // The next message within the deadline; false when none came.
    bool Next(stDoorbellMessage& message, int ms = 5000)
    {
        QDeadlineTimer deadline(ms);
        for (;;) {
            pollfd fd{m_iSocket, POLLIN, 0};
            if (poll(&fd, 1, static_cast<int>(deadline.remainingTime())) <= 0) {
                return false;
            }
            char data[stDoorbellMessage::MAX_SIZE];
            const ssize_t got = recv(m_iSocket, data, sizeof data, MSG_DONTWAIT);
            if (got > 0 &&
                stDoorbellMessage::Decode(data, static_cast<std::size_t>(got), message)) {
                return true;
            }
        }
    }

private slots:
    void initTestCase()
    {
        const QByteArray path = stDoorbellMessage::SOCKET_PATH;
        mkdir(path.left(path.lastIndexOf('/')).constData(), 0755);
        unlink(path.constData());
        m_iSocket = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, path.constData(), sizeof address.sun_path);
        QVERIFY(bind(m_iSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0);
    }

    void cleanupTestCase() { unlink(stDoorbellMessage::SOCKET_PATH); }

    void burstThenEnd_data()
    {
        QTest::addColumn<bool>("terminated");
        QTest::newRow("cupsd closes the input") << false;
        QTest::newRow("cupsd ends the notifier (SIGTERM)") << true;
    }

    void burstThenEnd()
    {
        QFETCH(bool, terminated);
        int input[2];
        QVERIFY(pipe2(input, O_CLOEXEC) == 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
        char* const argv[] = {const_cast<char*>(ORVO_NOTIFIER_BIN), nullptr};
        pid_t pid = 0;
        QCOMPARE(posix_spawn(&pid, ORVO_NOTIFIER_BIN, &actions, nullptr, argv, environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        close(input[0]);

        for (int sequence = 1; sequence <= BURST; ++sequence) {
            WriteEvent(input[1], sequence);
        }
        // Nothing is read at the socket until the notifier has taken all its input and sleeps:
        // every ring beyond the socket's queue has met a full one by then.
        QVERIFY(QTest::qWaitFor(
            [&] {
                int unread = -1;
                return ioctl(input[1], FIONREAD, &unread) == 0 && unread == 0 &&
                       ProcessState(pid) == 'S';
            },
            5000));

        QList<int> sequences;
        stDoorbellMessage message;
        while (sequences.value(sequences.size() - 1) != BURST && Next(message)) {
            QCOMPARE(message.eKind, stDoorbellMessage::KIND_EVENT);
            QCOMPARE(message.iSubscription, SUBSCRIPTION);
            sequences.append(message.iSequence);
        }
        QVERIFY2(
            sequences.value(sequences.size() - 1) == BURST,
            qPrintable(
                QStringLiteral("the last event went missing; %1 rings").arg(sequences.size())));
        QCOMPARE(sequences.value(0), 1);

        if (terminated) {
            kill(pid, SIGTERM);
        }
        close(input[1]);
        QVERIFY2(Next(message), "no end of the events");
        QCOMPARE(message.eKind, stDoorbellMessage::KIND_END);
        QCOMPARE(message.iSubscription, SUBSCRIPTION);
        int status = -1;
        QCOMPARE(waitpid(pid, &status, 0), pid);
        QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
};

QTEST_GUILESS_MAIN(TestCupsNotifier)
#include "test_cups_notifier.moc"
