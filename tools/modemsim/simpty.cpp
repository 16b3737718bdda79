#include "tools/modemsim/simpty.h"

#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

SimPty::~SimPty()
{
    close();
}

bool SimPty::open(const QString& linkPath, QString* error)
{
    close();
    auto fail = [&](const char* what) {
        if (error)
            *error =
                QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(strerror(errno)));
        close();
        return false;
    };

    master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0)
        return fail("posix_openpt");
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0)
        return fail("grantpt/unlockpt");
    char name[256];
    if (::ptsname_r(master, name, sizeof name) != 0)
        return fail("ptsname");
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);

    // A modem line carries bytes untouched: no echo, no CR/LF translation. The
    // settings stay with the terminal while the master is open, also for the
    // moments before the program's own port settings take hold.
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (slave < 0)
        return fail("open slave");
    termios tio;
    bool raw = ::tcgetattr(slave, &tio) == 0;
    if (raw) {
        ::cfmakeraw(&tio);
        ::cfsetispeed(&tio, B115200);
        ::cfsetospeed(&tio, B115200);
        raw = ::tcsetattr(slave, TCSANOW, &tio) == 0;
    }
    ::close(slave);
    if (!raw)
        return fail("raw mode");
    device = QString::fromLocal8Bit(name);

    if (!linkPath.isEmpty()) {
        const QByteArray target = QFile::encodeName(linkPath);
        const QByteArray tmp = target + ".new";
        ::unlink(tmp.constData());
        if (::symlink(name, tmp.constData()) != 0)
            return fail("symlink");
        if (::rename(tmp.constData(), target.constData()) != 0) {
            ::unlink(tmp.constData());
            return fail("rename link");
        }
        link = linkPath;
    }
    return true;
}

void SimPty::close()
{
    if (!link.isEmpty()) {
        ::unlink(QFile::encodeName(link).constData());
        link.clear();
    }
    if (master >= 0)
        ::close(master);
    master = -1;
    device.clear();
}

qint64 SimPty::read(char* data, qint64 size)
{
    if (master < 0)
        return -1;
    const ssize_t n = ::read(master, data, size_t(size));
    if (n > 0)
        return n;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return 0;
    return -1;
}

bool SimPty::peerAttached() const
{
    if (master < 0)
        return false;
    pollfd p = {master, POLLIN, 0};
    if (::poll(&p, 1, 0) < 0)
        return false;
    return (p.revents & POLLHUP) == 0;
}

qint64 SimPty::write(const char* data, qint64 size)
{
    if (master < 0)
        return -1;
    const ssize_t n = ::write(master, data, size_t(size));
    if (n >= 0)
        return n;
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
        return 0;
    return -1;
}
