#include "service/CupsClient.h"

#include <cups/cups.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

namespace {
// Asking for fewer attributes keeps both sides' work per job small; these are all the rules read.
const char* const c_jobAttributes[] = {"job-id", "job-state-reasons", "job-printer-state-message"};
const char* const c_queueAttributes[] = {"printer-name", "device-uri"};

// libcups waits for the scheduler in slices of this length and asks WaitOn after each empty
// one, so a question ends at most one slice after its deadline.
constexpr double WAIT_SLICE_S = 0.1;

qint64 SteadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

QString Text(ipp_attribute_t* attr, int index = 0)
{
    const char* value = ippGetString(attr, index, nullptr);
    return value ? QString::fromUtf8(value) : QString();
}

ipp_t* NewRequest(ipp_op_t operation, const QString& printerUri)
{
    ipp_t* request = ippNewRequest(operation);
    if (!printerUri.isEmpty()) {
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                     printerUri.toUtf8().constData());
    }
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 cupsUser());
    return request;
}

// The first attribute of the next group tagged `tag`, from `attr` on; null when none is left.
ipp_attribute_t* NextGroup(ipp_t* response, ipp_attribute_t* attr, ipp_tag_t tag)
{
    while (attr && ippGetGroupTag(attr) != tag) {
        attr = ippNextAttribute(response);
    }
    return attr;
}

// Reads the printer group that starts at `attr` and leaves `attr` behind it.
CupsClient::stQueue ReadQueue(ipp_t* response, ipp_attribute_t*& attr)
{
    CupsClient::stQueue queue;
    for (; attr && ippGetGroupTag(attr) == IPP_TAG_PRINTER; attr = ippNextAttribute(response)) {
        const char* name = ippGetName(attr);
        if (!name) {
            continue;
        }
        if (!std::strcmp(name, "printer-name") && ippGetValueTag(attr) == IPP_TAG_NAME) {
            const char* value = ippGetString(attr, 0, nullptr);
            queue.baName = value ? QByteArray(value) : QByteArray();
            queue.strName = QString::fromUtf8(queue.baName);
        } else if (!std::strcmp(name, "device-uri") && ippGetValueTag(attr) == IPP_TAG_URI) {
            queue.strDeviceUri = Text(attr);
        }
    }
    return queue;
}

CupsClient::stJob ReadJob(ipp_t* response, ipp_attribute_t*& attr)
{
    CupsClient::stJob job;
    for (; attr && ippGetGroupTag(attr) == IPP_TAG_JOB; attr = ippNextAttribute(response)) {
        const char* name = ippGetName(attr);
        if (!name) {
            continue;
        }
        const QLatin1String key(name);
        if (key == QLatin1String("job-id") && ippGetValueTag(attr) == IPP_TAG_INTEGER) {
            job.iId = ippGetInteger(attr, 0);
        } else if (key == QLatin1String("job-state-reasons")) {
            for (int i = 0; i < ippGetCount(attr); ++i) {
                job.listReasons.append(Text(attr, i));
            }
        } else if (key == QLatin1String("job-printer-state-message")) {
            job.bHasMessage = true;
            job.strMessage = Text(attr);
        }
    }
    return job;
}
} // namespace

// libcups sets SIGPIPE to be ignored when it opens its first connection, so a scheduler that
// closes the connection under a write makes the question fail, never the process end.
CupsClient::CupsClient(enWhenSilent whenSilent) : m_eWhenSilent(whenSilent) {}

std::atomic<int> CupsClient::s_iKept{0};
std::atomic<qint64> CupsClient::s_iSilentSinceMs{-1};

bool CupsClient::SchedulerSilent()
{
    const qint64 since = s_iSilentSinceMs.load();
    return since >= 0 && SteadyMs() - since < SILENT_HOLD_MS;
}

int CupsClient::WaitOn(http_t*, void* client)
{
    return SteadyMs() < static_cast<CupsClient*>(client)->m_iDeadlineMs ? 1 : 0;
}

CupsClient::~CupsClient()
{
    Disconnect();
    if (m_bKeeps) {
        s_iKept.fetch_sub(1);
    }
}

http_t* CupsClient::Connection(int timeoutMs)
{
    if (m_pHttp) {
        return m_pHttp;
    }
    // cupsServer() reads CUPS_SERVER and client.conf like every CUPS tool; a path is the
    // scheduler's local socket.
    m_pHttp = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                           timeoutMs, nullptr);
    if (m_pHttp) {
        // A fixed timeout would be waited out once per wait, and libcups waits twice for a
        // silent scheduler: up to 1 s for its "100 Continue", then for the response. Short
        // slices against the question's deadline keep the whole question within TIMEOUT_MS.
        httpSetTimeout(m_pHttp, WAIT_SLICE_S, WaitOn, this);
        ++m_iConnects;
        for (int kept = s_iKept.load(); !m_bKeeps && kept < KEPT_MAX;) {
            m_bKeeps = s_iKept.compare_exchange_weak(kept, kept + 1);
        }
    }
    return m_pHttp;
}

void CupsClient::Disconnect()
{
    if (m_pHttp) {
        httpClose(m_pHttp);
    }
    m_pHttp = nullptr;
}

QString CupsClient::PrinterUri(const QString& queue)
{
    // The resource is percent-encoded here, so any name CUPS accepts (non-ASCII, shell
    // characters, "?") reaches the scheduler as the name it gave the queue.
    char uri[HTTP_MAX_URI];
    if (httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost",
                         ippPort(), "/printers/%s",
                         queue.toUtf8().constData()) != HTTP_URI_STATUS_OK) {
        return QString();
    }
    return QString::fromUtf8(uri);
}

bool CupsClient::SchedulerIsLocal()
{
    const char* server = cupsServer();
    return server && (server[0] == '/' || !std::strcmp(server, "localhost") ||
                      !std::strcmp(server, "127.0.0.1") || !std::strcmp(server, "::1"));
}

QString CupsClient::ServerUri()
{
    char uri[HTTP_MAX_URI];
    httpAssembleURI(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(),
                    "/");
    return QString::fromUtf8(uri);
}

ipp_t* CupsClient::Ask(ipp_t* request, bool* answered, const char* resource)
{
    if (answered) {
        *answered = false;
    }
    if (m_eWhenSilent == HOLD_BACK && SchedulerSilent()) {
        ippDelete(request);
        return nullptr;
    }
    m_iDeadlineMs = SteadyMs() + TIMEOUT_MS;
    // Whether the scheduler said anything at all, if only an HTTP refusal.
    bool heard = false;
    // A kept connection may have been closed by a scheduler restarted since the last question;
    // then one fresh connection gets a second try. A fresh one that fails means CUPS is down.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const bool fresh = m_pHttp == nullptr;
        const qint64 left = m_iDeadlineMs - SteadyMs();
        http_t* http = left > 0 ? Connection(static_cast<int>(left)) : nullptr;
        if (!http) {
            break;
        }
        ipp_t* copy = fresh ? nullptr : ippNew();
        if (copy) {
            ippCopyAttributes(copy, request, 1, nullptr, nullptr);
        }
        if (copy) {
            ippSetOperation(copy, ippGetOperation(request));
            ippSetRequestId(copy, ippGetRequestId(request));
        }
        ipp_t* response = cupsDoRequest(http, request, resource);
        request = copy;
        if (response) {
            s_iSilentSinceMs.store(-1);
            if (!m_bKeeps) {
                Disconnect();
            }
            if (request) {
                ippDelete(request);
            }
            if (answered) {
                *answered = true;
            }
            return response;
        }
        heard = httpError(http) == 0 && httpGetStatus(http) >= HTTP_STATUS_BAD_REQUEST;
        // A late answer is not a dropped connection: asking again would only wait again.
        const bool timedOut = httpError(http) == ETIMEDOUT;
        Disconnect();
        if (fresh || timedOut || !request) {
            break;
        }
    }
    if (request) {
        ippDelete(request);
    }
    if (!heard) {
        s_iSilentSinceMs.store(SteadyMs());
    }
    return nullptr;
}

bool CupsClient::GetQueues(QList<stQueue>& queues)
{
    queues.clear();
    ipp_t* request = NewRequest(IPP_OP_CUPS_GET_PRINTERS, QString());
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  int(std::size(c_queueAttributes)), nullptr, c_queueAttributes);
    bool answered = false;
    ipp_t* response = Ask(request, &answered);
    if (!response) {
        return false;
    }
    // No queue at all is a "not found" answer: an empty list, which is the truth.
    for (ipp_attribute_t* attr = NextGroup(response, ippFirstAttribute(response), IPP_TAG_PRINTER);
         attr; attr = NextGroup(response, attr, IPP_TAG_PRINTER)) {
        const stQueue queue = ReadQueue(response, attr);
        if (!queue.strName.isEmpty()) {
            queues.append(queue);
        }
    }
    ippDelete(response);
    return answered;
}

bool CupsClient::IsPrinting(const QString& queue, bool* answered)
{
    if (answered) {
        *answered = false;
    }
    const QString uri = PrinterUri(queue);
    if (uri.isEmpty()) {
        return false;
    }
    ipp_t* request = NewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, uri);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
                 "printer-state");
    ipp_t* response = Ask(request, answered);
    if (!response) {
        return false;
    }
    ipp_attribute_t* state = ippFindAttribute(response, "printer-state", IPP_TAG_ENUM);
    const bool printing = state && ippGetInteger(state, 0) == IPP_PSTATE_PROCESSING;
    ippDelete(response);
    return printing;
}

bool CupsClient::GetJobs(const QString& queue, const QList<int>& alsoIds, QList<stJob>& jobs)
{
    jobs.clear();
    const QString uri = PrinterUri(queue);
    if (uri.isEmpty()) {
        return false;
    }
    const QByteArray printerUri = uri.toUtf8();

    ipp_t* request = NewRequest(IPP_OP_GET_JOBS, uri);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr,
                 "not-completed");
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  int(std::size(c_jobAttributes)), nullptr, c_jobAttributes);
    bool answered = false;
    ipp_t* response = Ask(request, &answered);
    if (!response) {
        return false;
    }
    for (ipp_attribute_t* attr = NextGroup(response, ippFirstAttribute(response), IPP_TAG_JOB);
         attr; attr = NextGroup(response, attr, IPP_TAG_JOB)) {
        const stJob job = ReadJob(response, attr);
        if (job.iId > 0) {
            jobs.append(job);
        }
    }
    ippDelete(response);

    for (const int id : alsoIds) {
        const bool listed = std::any_of(jobs.cbegin(), jobs.cend(),
                                        [id](const stJob& job) { return job.iId == id; });
        if (listed || id <= 0) {
            continue;
        }
        ipp_t* single = NewRequest(IPP_OP_GET_JOB_ATTRIBUTES, uri);
        ippAddInteger(single, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", id);
        ippAddStrings(single, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                      int(std::size(c_jobAttributes)), nullptr, c_jobAttributes);
        ipp_t* answer = Ask(single, &answered);
        if (!answer) {
            // The scheduler went away between the questions: like a listing that failed.
            jobs.clear();
            return false;
        }
        // A job no longer in the history is "not found": then it is simply not listed.
        ipp_attribute_t* first = NextGroup(answer, ippFirstAttribute(answer), IPP_TAG_JOB);
        if (first) {
            const stJob job = ReadJob(answer, first);
            if (job.iId == id) {
                jobs.append(job);
            }
        }
        ippDelete(answer);
    }
    std::sort(jobs.begin(), jobs.end(),
              [](const stJob& a, const stJob& b) { return a.iId < b.iId; });
    return true;
}

CupsClient::enChange CupsClient::Outcome(ipp_t* response)
{
    // Without a response libcups leaves the reason in its last error: a status of the client
    // range is a refusal (no such queue, not authorised), anything else no answer.
    const ipp_status_t status = response ? ippGetStatusCode(response) : cupsLastError();
    if (status <= IPP_STATUS_OK_EVENTS_COMPLETE) {
        return response ? CHANGE_DONE : CHANGE_NO_ANSWER;
    }
    if (status >= IPP_STATUS_ERROR_BAD_REQUEST && status < IPP_STATUS_ERROR_INTERNAL) {
        return CHANGE_REFUSED;
    }
    return CHANGE_NO_ANSWER;
}

CupsClient::enChange CupsClient::GetStateReasons(const QString& queue, QStringList& reasons,
                                                 QString& message)
{
    reasons.clear();
    message.clear();
    const QString uri = PrinterUri(queue);
    if (uri.isEmpty()) {
        return CHANGE_REFUSED;
    }
    static const char* const attributes[] = {"printer-state-reasons", "printer-state-message"};
    ipp_t* request = NewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, uri);
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  int(std::size(attributes)), nullptr, attributes);
    ipp_t* response = Ask(request, nullptr);
    const enChange outcome = Outcome(response);
    if (outcome == CHANGE_DONE) {
        ipp_attribute_t* attr =
            ippFindAttribute(response, "printer-state-reasons", IPP_TAG_KEYWORD);
        for (int i = 0; attr && i < ippGetCount(attr); ++i) {
            const QString keyword = Text(attr, i);
            if (!keyword.isEmpty() && keyword != QLatin1String("none")) {
                reasons.append(keyword);
            }
        }
        message = Text(ippFindAttribute(response, "printer-state-message", IPP_TAG_TEXT));
    }
    if (response) {
        ippDelete(response);
    }
    return outcome;
}

CupsClient::enChange CupsClient::SetStateReasons(const QString& queue, const QStringList& reasons,
                                                 const QString& message)
{
    const QString uri = PrinterUri(queue);
    if (uri.isEmpty()) {
        return CHANGE_REFUSED;
    }
    QList<QByteArray> keywords;
    for (const QString& reason : reasons) {
        keywords.append(reason.toUtf8());
    }
    if (keywords.isEmpty()) {
        keywords.append("none");
    }
    std::vector<const char*> values;
    for (const QByteArray& keyword : keywords) {
        values.push_back(keyword.constData());
    }
    ipp_t* request = NewRequest(IPP_OP_CUPS_ADD_MODIFY_PRINTER, uri);
    ippAddStrings(request, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "printer-state-reasons",
                  int(values.size()), nullptr, values.data());
    ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_TEXT, "printer-state-message", nullptr,
                 message.toUtf8().constData());
    // The administrative resource: cupsd's policy for printer changes applies there, and
    // libcups answers its authentication challenge with root's local credentials.
    ipp_t* response = Ask(request, nullptr, "/admin/");
    const enChange outcome = Outcome(response);
    if (response) {
        ippDelete(response);
    }
    return outcome;
}

CupsClient::enChange CupsClient::CreateSubscription(const QString& recipient,
                                                    const QStringList& events, int leaseSeconds,
                                                    int& id, QString* why)
{
    id = 0;
    QList<QByteArray> keywords;
    for (const QString& event : events) {
        keywords.append(event.toUtf8());
    }
    std::vector<const char*> values;
    for (const QByteArray& keyword : keywords) {
        values.push_back(keyword.constData());
    }
    ipp_t* request = NewRequest(IPP_OP_CREATE_PRINTER_SUBSCRIPTIONS, ServerUri());
    ippAddString(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_URI, "notify-recipient-uri", nullptr,
                 recipient.toUtf8().constData());
    ippAddStrings(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_KEYWORD, "notify-events",
                  int(values.size()), nullptr, values.data());
    ippAddInteger(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_INTEGER, "notify-lease-duration",
                  leaseSeconds);
    ipp_t* response = Ask(request, nullptr);
    enChange outcome = Outcome(response);
    if (outcome == CHANGE_DONE) {
        ipp_attribute_t* attr =
            ippFindAttribute(response, "notify-subscription-id", IPP_TAG_INTEGER);
        id = attr ? ippGetInteger(attr, 0) : 0;
        // cupsd answers a refused subscription in its subscription group, not in the status.
        ipp_attribute_t* status = ippFindAttribute(response, "notify-status-code", IPP_TAG_ENUM);
        if (id <= 0 || (status && ippGetInteger(status, 0) > IPP_STATUS_OK_EVENTS_COMPLETE)) {
            outcome = CHANGE_REFUSED;
            id = 0;
        }
    }
    if (why && outcome != CHANGE_DONE) {
        *why = QString::fromUtf8(cupsLastErrorString());
    }
    if (response) {
        ippDelete(response);
    }
    return outcome;
}

CupsClient::enChange CupsClient::GetSubscriptions(QList<stSubscription>& subscriptions)
{
    subscriptions.clear();
    static const char* const attributes[] = {"notify-subscription-id", "notify-recipient-uri"};
    ipp_t* request = NewRequest(IPP_OP_GET_SUBSCRIPTIONS, ServerUri());
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  int(std::size(attributes)), nullptr, attributes);
    ipp_t* response = Ask(request, nullptr);
    const enChange outcome = Outcome(response);
    if (outcome == CHANGE_DONE) {
        for (ipp_attribute_t* attr =
                 NextGroup(response, ippFirstAttribute(response), IPP_TAG_SUBSCRIPTION);
             attr; attr = NextGroup(response, attr, IPP_TAG_SUBSCRIPTION)) {
            stSubscription subscription;
            for (; attr && ippGetGroupTag(attr) == IPP_TAG_SUBSCRIPTION;
                 attr = ippNextAttribute(response)) {
                const char* name = ippGetName(attr);
                if (name && !std::strcmp(name, "notify-subscription-id") &&
                    ippGetValueTag(attr) == IPP_TAG_INTEGER) {
                    subscription.iId = ippGetInteger(attr, 0);
                } else if (name && !std::strcmp(name, "notify-recipient-uri")) {
                    subscription.strRecipient = Text(attr);
                }
            }
            if (subscription.iId > 0) {
                subscriptions.append(subscription);
            }
        }
    }
    // No subscription at all is a "not found" answer: an empty list, which is the truth.
    const bool none = response && ippGetStatusCode(response) == IPP_STATUS_ERROR_NOT_FOUND;
    if (response) {
        ippDelete(response);
    }
    return none ? CHANGE_DONE : outcome;
}

CupsClient::enChange CupsClient::SubscriptionRequest(int operation, int id, int leaseSeconds)
{
    ipp_t* request = NewRequest(static_cast<ipp_op_t>(operation), ServerUri());
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-subscription-id", id);
    if (leaseSeconds >= 0) {
        ippAddInteger(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_INTEGER, "notify-lease-duration",
                      leaseSeconds);
    }
    ipp_t* response = Ask(request, nullptr);
    const enChange outcome = Outcome(response);
    if (response) {
        ippDelete(response);
    }
    return outcome;
}

CupsClient::enChange CupsClient::RenewSubscription(int id, int leaseSeconds)
{
    return SubscriptionRequest(IPP_OP_RENEW_SUBSCRIPTION, id, leaseSeconds);
}

CupsClient::enChange CupsClient::CancelSubscription(int id)
{
    return SubscriptionRequest(IPP_OP_CANCEL_SUBSCRIPTION, id, -1);
}

bool CupsClient::Touch(const QString& queue)
{
    const QString uri = PrinterUri(queue);
    if (uri.isEmpty()) {
        return false;
    }
    ipp_t* request = NewRequest(IPP_OP_CUPS_ADD_MODIFY_PRINTER, uri);
    ipp_t* response = Ask(request, nullptr, "/admin/");
    const bool done = Outcome(response) == CHANGE_DONE;
    if (response) {
        ippDelete(response);
    }
    return done;
}
