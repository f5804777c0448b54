#pragma once

// The forms one game file is fetched in, tried one after another within the
// run until one arrives whole: what the file queue asks before each attempt
// and tells after a failed one.

#include "DecodingSink.h"
#include "FormChoice.h"
#include "ReferenceCopy.h"

#include <QUrl>

#include <functional>
#include <memory>

class GameDir;

namespace delta {

class FormAttempts
{
public:
    // Plans the forms of `entry`. When a patch may apply, the player's file is
    // read through the game folder's handle (never through a link) into a
    // private copy and hashed; the copy is the patch's reference. That reads
    // the whole file: make it off the GUI thread. `stop` may cut it short.
    FormAttempts(const GameDir& root, const ManifestEntry& entry,
                 const std::function<bool()>& stop = {});
    ~FormAttempts();
    FormAttempts(const FormAttempts&) = delete;
    FormAttempts& operator=(const FormAttempts&) = delete;

    const FormStep& current() const { return m_steps.at(m_at); }
    bool onPlain() const { return !current().has_value(); }
    const QList<FormStep>& steps() const { return m_steps; }

    // Where the current form is: below `baseUrl`, or `plainUrl` for the plain file.
    QUrl url(const QString& baseUrl, const QUrl& plainUrl) const;

    // The sink a transfer of the current form writes to, given the file's
    // sink for the plain file and its output for a decoded form; for a form,
    // `checks` become those of its own bytes and of the decoded result.
    transfer::BodySink& sinkFor(transfer::BodySink& file, FileOutput& whole,
                                transfer::Validators& checks);

    // The current form failed for `reason`: the next one becomes current.
    // The returned line says so, for the log.
    QString fallBack(const QString& reason);

private:
    void copyPlayersFile(const GameDir& root, const std::function<bool()>& stop);

    ManifestEntry m_entry;
    QList<FormStep> m_steps;
    qsizetype m_at = 0;
    std::unique_ptr<ReferenceCopy> m_reference;
    std::unique_ptr<DecodingSink> m_decoder;
};

} // namespace delta
