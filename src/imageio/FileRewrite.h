#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

namespace orva {

// Points of a rewrite where a test may stop the process to prove that a killed save
// leaves the old or the new file, never a broken one.
enum class RewriteStep { tempCreated, halfWritten, written, synced, renamed };
using RewriteStepHook = void (*)(RewriteStep);
// Installs a hook called at every step (null removes it). Tests only.
void setRewriteStepHook(RewriteStepHook hook);

// Replaces a file's contents in one step: the new bytes go to a hidden temporary file in
// the same folder, which gets the file's owner, permissions and user attributes, is
// flushed to disk, and is renamed over the file; the folder is flushed after it.
// A symbolic link is followed and its target rewritten. Rewrites of one file within this
// process run one after the other: a rewrite holds the file from open() until it ends.
class FileRewrite {
public:
    // Absent when the file is not a regular file we may write, has several hard links
    // (replacing it would split them), or is larger than `maxBytes`.
    static std::optional<FileRewrite> open(const QString &path, qint64 maxBytes);

    FileRewrite(FileRewrite &&) noexcept;
    FileRewrite &operator=(FileRewrite &&) noexcept;
    ~FileRewrite();

    // The file's current bytes.
    const QByteArray &contents() const;
    // The file really rewritten (symbolic links resolved).
    const QString &targetPath() const;
    // Writes `bytes` in place of the file. False when any step fails; the file is then as
    // it was and no temporary file is left.
    bool commit(const QByteArray &bytes);

    // The name pattern of Orva's temporary files: a stray one matching it is removed by the
    // next rewrite in its folder once no process holds it.
    static bool isTemporaryName(const QString &fileName);

    struct State;

private:
    explicit FileRewrite(std::unique_ptr<State> state);
    std::unique_ptr<State> d_;
};

} // namespace orva
