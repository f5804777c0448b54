#include "Commands.h"

#include "BuildCommand.h"
#include "Ed25519.h"
#include "SecretKeyFile.h"
#include "VerifyCommand.h"

#include <QHash>

using namespace Qt::StringLiterals;

namespace publisher {

namespace {

constexpr int UsageError = 2;

constexpr QStringView Usage =
    u"usage: quorvane-publish keygen SECRET_KEY_FILE\n"
    "       quorvane-publish build RELEASE_DIR SITE_DIR --version V [--sign SECRET_KEY_FILE] "
    "[--expires DAYS|never] [--deltas K]\n"
    "       quorvane-publish verify SITE_DIR [--key PUBLIC_KEY]\n"
    "Expires: a signed manifest expires 90 days after the build; --expires DAYS\n"
    "  chooses another period, --expires never writes none. Players refuse a signed\n"
    "  manifest whose Expires has passed (a frozen site stops updates instead of\n"
    "  holding players back), so publish again before then; a signed manifest\n"
    "  without Expires is accepted for ever.\n"
    "Serial: the highest Serial signed with a key is kept beside it (KEY.serial);\n"
    "  a lower or equal one is never signed.";

struct CommandLine
{
    QStringList positional;
    QHash<QString, QString> options; // "--name" -> value
    QString error;
};

// Splits the arguments after the command into positional ones and the
// `allowed` options, each taking one value ("--name value" or "--name=value").
CommandLine parseArguments(const QStringList& args, const QStringList& allowed)
{
    CommandLine line;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (!arg.startsWith(u"--"_s)) {
            line.positional.append(arg);
            continue;
        }
        const qsizetype eq = arg.indexOf(u'=');
        const QString name = eq < 0 ? arg : arg.left(eq);
        if (!allowed.contains(name)) {
            line.error = u"unknown option "_s + name;
            return line;
        }
        if (line.options.contains(name)) {
            line.error = name + u" is given twice"_s;
            return line;
        }
        if (eq < 0 && i + 1 >= args.size()) {
            line.error = name + u" needs a value"_s;
            return line;
        }
        line.options.insert(name, eq < 0 ? args[++i] : arg.mid(eq + 1));
    }
    return line;
}

int usage(QTextStream& err, const QString& why)
{
    err << u"quorvane-publish: "_s << why << Qt::endl << Usage.toString() << Qt::endl;
    return UsageError;
}

std::optional<QString> option(const CommandLine& line, const QString& name)
{
    const auto it = line.options.constFind(name);
    return it == line.options.cend() ? std::nullopt : std::optional<QString>(*it);
}

int build(const QStringList& args, QTextStream& out, QTextStream& err, const QDateTime& now)
{
    const CommandLine line =
        parseArguments(args, {u"--version"_s, u"--sign"_s, u"--expires"_s, u"--deltas"_s});
    if (!line.error.isEmpty())
        return usage(err, line.error);
    if (line.positional.size() != 2)
        return usage(err, u"build takes RELEASE_DIR and SITE_DIR"_s);
    const auto version = option(line, u"--version"_s);
    if (!version)
        return usage(err, u"build needs --version"_s);
    BuildOptions options{line.positional[0],        line.positional[1], *version,
                         option(line, u"--sign"_s), std::nullopt,       now};
    const auto days = option(line, u"--expires"_s);
    if (days && *days != u"never"_s) {
        bool ok = false;
        options.expiresDays = days->toInt(&ok);
        if (!ok)
            return usage(err, u"--expires takes a whole number of days, or never"_s);
    } else if (!days && options.secretKeyFile) {
        options.expiresDays = DefaultExpiresDays;
    }
    if (const auto deltas = option(line, u"--deltas"_s)) {
        bool ok = false;
        options.deltas = deltas->toInt(&ok);
        if (!ok || options.deltas < 0 || options.deltas > 16)
            return usage(err, u"--deltas takes a number of releases from 0 to 16"_s);
    }
    return runBuild(options, out, err);
}

int verifySite(const QStringList& args, QTextStream& out, QTextStream& err, const QDateTime& now)
{
    const CommandLine line = parseArguments(args, {u"--key"_s});
    if (!line.error.isEmpty())
        return usage(err, line.error);
    if (line.positional.size() != 1)
        return usage(err, u"verify takes SITE_DIR"_s);
    return runVerify({line.positional[0], option(line, u"--key"_s), now}, out, err);
}

} // namespace

int runKeygen(const QString& secretKeyFile, QTextStream& out, QTextStream& err)
{
    const auto pair = verify::generateKeyPair();
    if (!pair) {
        err << u"quorvane-publish: "_s << pair.reason() << Qt::endl;
        return 1;
    }
    if (const verify::Check written =
            verify::writeNewSecretKeyFile(secretKeyFile, pair.value().secretKey);
        !written) {
        err << u"quorvane-publish: "_s << written.reason << Qt::endl;
        return 1;
    }
    out << u"PublicKey="_s << pair.value().publicKey.toBase64() << Qt::endl;
    return 0;
}

int runPublisher(const QStringList& arguments, QTextStream& out, QTextStream& err,
                 const QDateTime& now)
{
    if (arguments.isEmpty())
        return usage(err, u"no command given"_s);
    const QString command = arguments.first();
    const QStringList rest = arguments.mid(1);
    if (command == u"keygen"_s) {
        if (rest.size() != 1 || rest.first().startsWith(u"--"_s))
            return usage(err, u"keygen takes SECRET_KEY_FILE"_s);
        return runKeygen(rest.first(), out, err);
    }
    if (command == u"help"_s || command == u"--help"_s) {
        out << Usage.toString() << Qt::endl;
        return 0;
    }
    if (command == u"build"_s)
        return build(rest, out, err, now);
    if (command == u"verify"_s)
        return verifySite(rest, out, err, now);
    return usage(err, u"unknown command "_s + command);
}

} // namespace publisher
