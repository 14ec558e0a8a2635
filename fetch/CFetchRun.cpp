#include "fetch/CFetchRun.h"

#include "fetch/CArticleFile.h"
#include "platform/Console.h"

CFetchRun::CFetchRun(ThreadArg& arg_, CRunStatus& status_)
    : arg(arg_), status(status_), assembler(CArticleFile::FOLDER, "images") {}

void CFetchRun::SaveRecord() {
    std::string error;
    if (recordUsable && !record.Save(recordPath, error)) {
        platform::WriteConsole(error + "\n");
    }
}
