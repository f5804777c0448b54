#pragma once

#include <QtGlobal>

#include <optional>

// What an update run tells about the whole update's progress, beside the
// status texts. `index` names one file of the run (its place in the file
// list); a file may be started more than once (a retry). A view without a
// progress bar needs none of it, hence the empty defaults.
class ProgressFeed
{
public:
    virtual ~ProgressFeed() = default;

    // The files the run is about to fetch and, when the manifest gives every
    // one's size, their bytes together.
    virtual void filesPlanned(int /*files*/, std::optional<qint64> /*totalBytes*/) {}
    // An attempt at the file begins; its body continues from `offset` bytes
    // (an interrupted download resumed), or starts over at 0.
    virtual void fileStarted(int /*index*/, qint64 /*offset*/) {}
    // The file now holds `position` bytes.
    virtual void fileProgressed(int /*index*/, qint64 /*position*/) {}
    // The file is fetched in another form: `now` bytes from here on instead
    // of the `was` planned. What its earlier attempt received stays counted.
    virtual void fileReplanned(int /*index*/, qint64 /*was*/, qint64 /*now*/) {}
    // The file's last attempt ended; it arrived when `ok`.
    virtual void fileDone(int /*index*/, bool /*ok*/) {}
    // Every file arrived; the set is being synced and renamed into place.
    virtual void installStarted() {}
    // The run ended: installed (`complete`), or not.
    virtual void updateFinished(bool /*complete*/) {}
};
