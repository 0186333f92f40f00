// One running copy per data folder. The first copy holds a lock file in the folder and
// listens on a local socket named after the folder; a later copy hands its command line
// to the first one over that socket and ends without touching the folder's files.
#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QStringList>

namespace quenloft {

class SingleCopy : public QObject {
    Q_OBJECT
public:
    explicit SingleCopy(const QString& dataFolder);
    ~SingleCopy() override;

    enum class Outcome {
        First,    // this copy holds the folder now
        PassedOn, // the copy that holds it got `arguments`
        NoAnswer, // the copy that holds it did not answer within the wait
    };
    // Takes the folder for this copy, or hands `arguments` to the copy that holds it,
    // waiting up to `waitMs` for that copy to answer (it may be starting). A folder that
    // cannot hold a lock file keeps no other copy out. Needs no application object.
    Outcome ClaimOrPassOn(const QStringList& arguments, int waitMs);

    // After the claim, with the application object in place: from now on later copies
    // reach this one.
    void Listen();

    // Gives the folder up at once (the lock file goes), for an end that skips the
    // destructor.
    void Release();

signals:
    // A later copy's command line arrived.
    void Arrived(const QStringList& arguments);

private:
    bool PassOn(const QStringList& arguments);
    void Receive();

    QString socketName_;
    QLockFile lock_;
    QLocalServer server_;
};

} // namespace quenloft
