#include "QuitOnSignal.h"

#include "Log.h"
#include "LogPrefix.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// The signals whose default action ends the process and that a program
// may be sent in the ordinary course: from a terminal or kill, a timer, a
// resource limit, a power failure. Those that report a fault in the program
// itself (SIGSEGV and the like) are left to their default action, and so
// are the real-time signals, which no one sends a program that did not ask.
const int kSignals[] = {SIGHUP,    SIGINT,  SIGTERM, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM,
                        SIGVTALRM, SIGPROF, SIGXCPU, SIGXFSZ, SIGPWR,  SIGIO};

// Their default action writes a core file; after a clean end there is
// nothing in it worth the space.
bool dumpsCore(int signalNumber)
{
    return signalNumber == SIGQUIT || signalNumber == SIGXCPU || signalNumber == SIGXFSZ;
}

// The one thing a signal handler can reach is a variable of the program's
// own: the pipe's write end, set while a QuitOnSignal lives.
volatile std::sig_atomic_t writeEndForHandler = -1;

void onSignal(int signalNumber)
{
    const int savedErrno = errno;
    const int fd = writeEndForHandler;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    // A full pipe already holds a byte that will end the loop.
    if (fd >= 0 && ::write(fd, &byte, 1) < 0) {
    }
    errno = savedErrno;
}

// A signal the program was started to ignore stays ignored: nohup, or a
// shell starting a job in the background, asks that the job outlive a
// hangup or an interrupt.
void handleSignals(void (*handler)(int))
{
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : kSignals) {
        struct sigaction current {};
        if (::sigaction(signalNumber, nullptr, &current) == 0 && current.sa_handler == SIG_IGN)
            continue;
        ::sigaction(signalNumber, &action, nullptr);
    }
}

} // namespace

QuitOnSignal::QuitOnSignal(QObject* parent)
    : QObject(parent)
{
    int ends[2];
    // Close-on-exec: the programs a job starts must not hold the pipe.
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        Log::line(LogPrefix::kSignalHandling + std::string(std::strerror(errno)));
        return;
    }
    m_readEnd = UniqueFd(ends[0]);
    m_writeEnd = UniqueFd(ends[1]);
    writeEndForHandler = m_writeEnd.get();
    m_notifier = new QSocketNotifier(m_readEnd.get(), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &QuitOnSignal::onSignalled);
    handleSignals(onSignal);
}

QuitOnSignal::~QuitOnSignal()
{
    if (!m_writeEnd.isOpen())
        return;
    // From here on a signal ends the process at once, as it would without
    // us; the descriptors close after this body.
    handleSignals(SIG_DFL);
    writeEndForHandler = -1;
    if (m_endingAsked && m_signalNumber == 0 && takeSignals())
        end({0, m_signalNumber});
}

bool QuitOnSignal::hasSignalled() const
{
    if (!m_readEnd.isOpen())
        return false;
    // The byte stays in the pipe for the event loop.
    pollfd waiting{m_readEnd.get(), POLLIN, 0};
    return ::poll(&waiting, 1, 0) == 1;
}

bool QuitOnSignal::waitForInput(int fd) const
{
    pollfd waiting[2] = {{fd, POLLIN, 0}, {m_readEnd.get(), POLLIN, 0}};
    const nfds_t count = m_readEnd.isOpen() ? 2 : 1;
    for (;;) {
        if (::poll(waiting, count, -1) < 0) {
            if (errno == EINTR)
                continue;
            // Let the read that follows tell what is wrong.
            return true;
        }
        if (count == 2 && waiting[1].revents != 0)
            return false;
        if (waiting[0].revents != 0)
            return true;
    }
}

bool QuitOnSignal::takeSignals()
{
    if (!m_readEnd.isOpen())
        return false;
    bool taken = false;
    unsigned char byte = 0;
    while (::read(m_readEnd.get(), &byte, 1) == 1) {
        m_signalNumber = byte;
        taken = true;
    }
    return taken;
}

int QuitOnSignal::endingSignal()
{
    m_endingAsked = true;
    takeSignals();
    return m_signalNumber;
}

int QuitOnSignal::end(const Ending& ending)
{
    if (ending.signalNumber == 0)
        return ending.status;
    // Whatever is still buffered is written first: nothing runs after the
    // signal.
    std::fflush(nullptr);
    if (dumpsCore(ending.signalNumber)) {
        const rlimit none{0, 0};
        ::setrlimit(RLIMIT_CORE, &none);
    }
    ::signal(ending.signalNumber, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, ending.signalNumber);
    ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    ::raise(ending.signalNumber);
    // Not reached: the default action of every signal handled here ends
    // the process.
    return 128 + ending.signalNumber;
}

void QuitOnSignal::onSignalled()
{
    if (!takeSignals())
        return;
    const int last = m_signalNumber;
    Log::line(LogPrefix::kEndingOnSignal + std::to_string(last) + " (" + sigdescr_np(last) + ")");
    // exit, not quit: quit first asks every window to close, and the main
    // window would ask the user whether to stop the running job.
    QCoreApplication::exit(0);
}
