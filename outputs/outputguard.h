// The one check before any file a run or a board leaves is written (a
// report, JUnit, a CSV export, a saved board or signature): never over a
// file the user keeps that is in use. The same file counts by its path, by a
// symbolic link or by a hard link; a SQLite history counts with its journal
// files and the local spool.
#pragma once

#include <QString>

#include <vector>

namespace sig {

struct RunPlan;

struct KeptFile
{
    enum class Kind { File, History };
    Kind kind = Kind::File;
    QString path; // History: the history's location text
    QString what; // for the message: "the signature", "the JUnit file"
};

// Empty when `target` may be written as `what` ("the report"); else a
// message naming both files, and nothing may be touched.
QString refusal(const QString &target, const QString &what, const std::vector<KeptFile> &kept);

// The outputs a run writes: a learn writes its signature.
enum class RunOutput { None, Report, JUnit, Signature };

// What the run's output `writing` may not be written over: the history in
// use (recorded in or not), the signature file, and the run's other outputs.
std::vector<KeptFile> keptFiles(const RunPlan &plan, RunOutput writing = RunOutput::None);

// The history's location text as a kept file; none for an empty text.
std::vector<KeptFile> keptHistory(const QString &location);

} // namespace sig
