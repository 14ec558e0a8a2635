#include "fetch/CFetchWorker.h"

#include <system_error>
#include <utility>

#include "decode/CPartAssembler.h"
#include "decode/CPictureCollector.h"
#include "fetch/CArticleFile.h"
#include "fetch/FetchThread.h"
#include "platform/Secret.h"

CFetchWorker::CFetchWorker(CFetchDisplay& display)
    : m_threadArg(std::make_shared<ThreadArg>(display)) {}

CFetchWorker::~CFetchWorker() {
    EndRun(std::chrono::seconds{5});
}

bool CFetchWorker::InitServer() {
    return m_threadArg->server.Init();
}

bool CFetchWorker::StartThread() {
    if (m_thread.joinable()) {
        return true;
    }
    m_threadArg->stop.Reset();
    // This process has not begun to write any, so none of its own can be lost.
    CArticleFile::RemoveLeftovers();
    CPartAssembler::RemoveStale(CArticleFile::FOLDER);
    CPictureCollector::RemoveStale(CArticleFile::FOLDER, CPartAssembler::STALE_AFTER);
    try {
        m_thread = std::thread(FetchThread, m_threadArg);
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void CFetchWorker::SetReconnectBackOff(CBackOff backOff) {
    m_threadArg->reconnect = std::move(backOff);
}

void CFetchWorker::OnStart(const std::string& password) {
    {
        std::lock_guard lock(m_threadArg->passwordMutex);
        platform::WipeSecret(m_threadArg->password);
        m_threadArg->password = password;
    }
    m_threadArg->stop.Reset();
    m_threadArg->sessions.ClearCancel();
    m_threadArg->startEvent.Set();
}

void CFetchWorker::OnStop() {
    // The flag first: the worker, woken by the cancel, must find it set.
    m_threadArg->stop.Set();
    m_threadArg->sessions.Cancel();
}

bool CFetchWorker::EndRun(std::chrono::milliseconds wait) {
    ThreadArg& arg = *m_threadArg;
    arg.stop.Set();
    // A Start pressed during the run must not begin another one on the way out.
    arg.startEvent.Reset();
    arg.exitEvent.Set();
    arg.sessions.Abort();
    arg.dlg.Detach();
    if (!m_thread.joinable()) {
        return true;
    }
    bool ended;
    {
        std::unique_lock lock(arg.progressMutex);
        ended = arg.progressChanged.wait_for(lock, wait, [&] { return arg.threadEnded; });
    }
    if (ended) {
        m_thread.join();
    } else {
        // Still inside something no signal can cut short (a name look-up): it holds its own
        // share of everything it uses, so it may finish on its own.
        m_thread.detach();
    }
    return ended;
}

bool CFetchWorker::WaitForRuns(std::uint64_t runs, std::chrono::milliseconds timeout) {
    ThreadArg& arg = *m_threadArg;
    std::unique_lock lock(arg.progressMutex);
    return arg.progressChanged.wait_for(lock, timeout, [&] { return arg.runsDone >= runs; });
}

std::uint64_t CFetchWorker::RunsDone() const {
    std::lock_guard lock(m_threadArg->progressMutex);
    return m_threadArg->runsDone;
}
