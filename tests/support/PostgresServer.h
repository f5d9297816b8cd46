#pragma once
// A PostgreSQL server of the test's own: Debian's postgresql binaries, a cluster made in a directory of
// the test's, run as an unprivileged user (nobody when the test runs as root), listening only on a
// socket in that directory, trusting its local users (roles without passwords).

#include <QString>
#include <QStringList>

#include <memory>

class PostgresServer
{
public:
    // Makes the cluster in a new folder of parent and starts it; null with *why saying why (the
    // binaries missing: the test is skipped with that reason).
    // settings: more of the server's -c settings (a test gives fsync=off; a benchmark keeps the defaults).
    static std::unique_ptr<PostgresServer> Start(const QString &parent, QString *why,
                                                 const QStringList &settings = {});
    ~PostgresServer();

    bool start(QString *why);
    void stop(const QString &mode = QStringLiteral("fast")); // pg_ctl's smart, fast or immediate
    // The connection string for a database, as the superuser quillary.
    QString connection(const QString &database) const;
    // Runs SQL with psql as quillary; its output without the trailing line feed.
    QString psql(const QString &sql, const QString &database = QStringLiteral("postgres")) const;

private:
    PostgresServer() = default;
    bool runAsOwner(const QString &program, const QStringList &arguments, QString *output) const;

    QString m_bin;
    QString m_dir;
    QString m_owner; // empty: the test's own user
    QStringList m_settings;
    bool m_running = false;
};
