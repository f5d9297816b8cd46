#include "support/PostgresServer.h"

#include <QDir>
#include <QProcess>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

std::unique_ptr<PostgresServer> PostgresServer::Start(const QString &parent, QString *why,
                                                      const QStringList &settings)
{
    // The newest version Debian's postgresql package installed.
    QStringList versions =
        QDir(QStringLiteral("/usr/lib/postgresql")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(versions.begin(), versions.end(),
              [](const QString &a, const QString &b) { return a.toInt() < b.toInt(); });
    std::unique_ptr<PostgresServer> server(new PostgresServer);
    for (const QString &version : versions) {
        const QString bin = QStringLiteral("/usr/lib/postgresql/%1/bin").arg(version);
        if (QFile::exists(bin + QStringLiteral("/initdb")) && QFile::exists(bin + QStringLiteral("/psql")))
            server->m_bin = bin;
    }
    if (server->m_bin.isEmpty()) {
        *why = QStringLiteral("PostgreSQL's initdb and psql are missing (Debian packages postgresql and "
                              "postgresql-client)");
        return nullptr;
    }
    server->m_dir = parent + QStringLiteral("/postgres");
    server->m_settings = settings;
    QDir().mkpath(server->m_dir);
    if (geteuid() == 0) {
        // The server refuses to run as root: the folder goes to nobody, its parent may be passed.
        const passwd *nobody = getpwnam("nobody");
        if (!nobody || chown(qPrintable(server->m_dir), nobody->pw_uid, nobody->pw_gid) != 0 ||
            chmod(qPrintable(parent), 0711) != 0) {
            *why = QStringLiteral("the user nobody cannot be given the server's folder");
            return nullptr;
        }
        server->m_owner = QStringLiteral("nobody");
    }
    QString output;
    if (!server->runAsOwner(server->m_bin + QStringLiteral("/initdb"),
                            {"-D", server->m_dir + "/data", "-U", "quillary", "--auth=trust", "-E", "UTF8",
                             "--locale=C.UTF-8", "--no-sync"},
                            &output)) {
        *why = QStringLiteral("initdb failed: ") + output;
        return nullptr;
    }
    if (!server->start(why))
        return nullptr;
    return server;
}

PostgresServer::~PostgresServer()
{
    if (m_running)
        stop(QStringLiteral("immediate"));
}

bool PostgresServer::runAsOwner(const QString &program, const QStringList &arguments, QString *output) const
{
    QProcess process;
    process.setWorkingDirectory(m_dir);
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (m_owner.isEmpty())
        process.start(program, arguments);
    else
        process.start(QStringLiteral("runuser"), QStringList{"-u", m_owner, "--", program} + arguments);
    const bool finished = process.waitForFinished(120000);
    *output = QString::fromLocal8Bit(process.readAll());
    return finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool PostgresServer::start(QString *why)
{
    QString output;
    QString options = "-k " + m_dir + " -c listen_addresses=''";
    for (const QString &setting : m_settings)
        options += " -c " + setting;
    m_running = runAsOwner(
        m_bin + QStringLiteral("/pg_ctl"),
        {"-D", m_dir + "/data", "-l", m_dir + "/log", "-w", "-t", "300", "-o", options, "start"}, &output);
    if (!m_running)
        *why = QStringLiteral("the server did not start: ") + output;
    return m_running;
}

void PostgresServer::stop(const QString &mode)
{
    QString output;
    runAsOwner(m_bin + QStringLiteral("/pg_ctl"), {"-D", m_dir + "/data", "-m", mode, "-w", "stop"}, &output);
    m_running = false;
}

QString PostgresServer::connection(const QString &database) const
{
    return QStringLiteral("host=%1 user=quillary dbname=%2").arg(m_dir, database);
}

QString PostgresServer::psql(const QString &sql, const QString &database) const
{
    QProcess process;
    process.start(m_bin + QStringLiteral("/psql"), {"-X", "-q", "-At", "-v", "ON_ERROR_STOP=1", "-h", m_dir,
                                                    "-U", "quillary", "-d", database, "-c", sql});
    process.waitForFinished(120000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}
