#include "ui/SingleCopy.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QThread>
#include <algorithm>
#include <memory>
#include <unistd.h>

namespace quenloft {

namespace {

// A command line is a few words; anything longer is not from a copy of this program.
constexpr qint64 MostBytes = 4096;
constexpr int ConnectWaitMs = 1000;

// The socket lies in the user's runtime folder and is named after the data folder it
// stands for, so copies with other data folders do not meet.
QString SocketNameFor(const QString& dataFolder) {
    QString folder = QFileInfo(dataFolder).canonicalFilePath();
    if (folder.isEmpty()) {
        folder = QDir::cleanPath(QDir(dataFolder).absolutePath());
    }
    QByteArray key =
        QCryptographicHash::hash(folder.toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.isEmpty() || !QFileInfo(runtime).isDir()) {
        runtime = QDir::tempPath();
    }
    return QString("%1/quenloft-%2-%3").arg(runtime).arg(::getuid()).arg(QString::fromLatin1(key));
}

} // namespace

SingleCopy::SingleCopy(const QString& dataFolder)
    : socketName_(SocketNameFor(dataFolder)), lock_(dataFolder + "/Quenloft.lock") {
    // The lock is held as long as the program runs: only a lock whose process has ended
    // is stale, however old it is.
    lock_.setStaleLockTime(0);
    connect(&server_, &QLocalServer::newConnection, this, &SingleCopy::Receive);
}

SingleCopy::~SingleCopy() {
    server_.close();
}

SingleCopy::Outcome SingleCopy::ClaimOrPassOn(const QStringList& arguments, int waitMs) {
    QDeadlineTimer deadline(waitMs);
    for (;;) {
        if (lock_.tryLock(0) || lock_.error() != QLockFile::LockFailedError) {
            return Outcome::First;
        }
        if (PassOn(arguments)) {
            return Outcome::PassedOn;
        }
        if (deadline.hasExpired()) {
            return Outcome::NoAnswer;
        }
        // The copy that holds the folder may still be on its way to listening.
        QThread::msleep(100);
    }
}

// A socket file left by a copy that ended abruptly is in the way: the lock says that
// no copy listens on it now.
void SingleCopy::Listen() {
    QLocalServer::removeServer(socketName_);
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    server_.listen(socketName_);
}

void SingleCopy::Release() {
    lock_.unlock();
}

bool SingleCopy::PassOn(const QStringList& arguments) {
    QLocalSocket socket;
    socket.connectToServer(socketName_);
    if (!socket.waitForConnected(ConnectWaitMs)) {
        return false;
    }
    socket.write(arguments.join('\n').toUtf8());
    bool sent = socket.waitForBytesWritten(ConnectWaitMs);
    socket.disconnectFromServer();
    return sent;
}

// The command line arrives whole when the later copy has closed its end.
void SingleCopy::Receive() {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        auto received = std::make_shared<QByteArray>();
        auto take = [socket, received] {
            received->append(socket->read(std::max<qint64>(0, MostBytes - received->size())));
        };
        connect(socket, &QLocalSocket::readyRead, this, take);
        connect(socket, &QLocalSocket::disconnected, this, [this, socket, received, take] {
            take();
            socket->deleteLater();
            emit Arrived(QString::fromUtf8(*received).split('\n'));
        });
    }
}

} // namespace quenloft
