#include "audio/MMConect.h"

#include "platform/DisplayTimer.h"
#include "platform/ResStrings.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>
#include <QTimer>
#include <chrono>
#include <climits>
#include <cstring>
#include <exception>
#include <utility>

namespace {

// Private messages of the pump window.
constexpr QEvent::Type kStartMessage = QEvent::Type(45557);
constexpr QEvent::Type kTriggerMessage = QEvent::Type(45558);
constexpr QEvent::Type kPumpMessage = QEvent::Type(45559);

// A message for one connector, named by its serial: a destroyed connector's messages find nobody.
class ConnectorEvent : public QEvent {
public:
    ConnectorEvent(Type type, std::uint64_t serial)
        : QEvent(type)
        , serial(serial)
    {
    }
    const std::uint64_t serial;
};

std::atomic<TMMConnector::Clock> gClock { nullptr };
std::atomic<std::uint64_t> gNextSerial { 1 };

} // namespace

// The hidden pump window: lives on the user-interface thread from the first connector to the last.
class TMMConnectorWindow : public QObject {
public:
    TMMConnectorWindow()
    {
        setObjectName(QStringLiteral("TMMConnectorWindow"));
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setSingleShot(true);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] { TimerPass(); });
    }

    bool event(QEvent* e) override;

    // ---- process-wide state, user-interface thread ----
    static TMMConnectorWindow* window;
    static std::vector<TMMConnector*> connectors;
    static int maxSpeed;
    static int runningAuto;
    static bool enterIdle;

    static TMMConnector* Find(std::uint64_t serial)
    {
        for (TMMConnector* c : connectors) {
            if (c->m_serial == serial) {
                return c;
            }
        }
        return nullptr;
    }
    static void RecomputeSpeed()
    {
        maxSpeed = 1;
        for (TMMConnector* c : connectors) {
            maxSpeed = std::max(maxSpeed, c->m_speed);
        }
    }
    static bool KeepPumping()
    {
        return runningAuto > 0 && !connectors.empty() && !QCoreApplication::closingDown();
    }
    void StartPump()
    {
        sleeping = false;
        if (!m_timer.isActive()) {
            m_timer.start(1);
        }
    }
    // From any thread, after something became due: wakes a pump that sleeps for want of work.
    static void Wake()
    {
        if (sleeping.exchange(false) && window) {
            QCoreApplication::postEvent(window, new QEvent(kPumpMessage));
        }
    }

    // The pump wakes when a buffer arrives and then about once per display refresh, and delivers
    // every block due by then: a few wake-ups per buffer instead of one per block. It sleeps (no
    // timer at all) while nothing is due. Set on the user-interface thread, cleared by whichever
    // thread wakes it.
    static std::atomic<bool> sleeping;

    void TimerPass()
    {
        if (!KeepPumping()) {
            m_timer.stop();
            return;
        }
        struct Schedule {
            TMMConnectorWindow* self;
            ~Schedule() { self->ScheduleNext(); }
        } schedule { this };
        Pass();
    }

private:
    void Pass();
    void ScheduleNext()
    {
        if (!KeepPumping()) {
            m_timer.stop();
            return;
        }
        // Sleeping first, then looking: a buffer that arrives meanwhile finds the flag and wakes us.
        sleeping = true;
        const std::int64_t now = TMMConnector::Now();
        std::int64_t next = INT64_MAX;
        for (TMMConnector* c : connectors) {
            if (c->m_inPump && c->m_enabled && c->m_running) {
                next = std::min(next, c->NextBatch(now));
            }
        }
        if (next == INT64_MAX) {
            m_timer.stop();
            return;
        }
        sleeping = false;
        const std::int64_t wait = next - now;
        const int ms = static_cast<int>(std::clamp<std::int64_t>((wait + 999) / 1000, 1, 1000));
        m_timer.start(ms);
    }

    QTimer m_timer;
};

TMMConnectorWindow* TMMConnectorWindow::window = nullptr;
std::vector<TMMConnector*> TMMConnectorWindow::connectors;
int TMMConnectorWindow::maxSpeed = 5000;
int TMMConnectorWindow::runningAuto = 0;
bool TMMConnectorWindow::enterIdle = false;
std::atomic<bool> TMMConnectorWindow::sleeping { false };

void TMMConnectorWindow::Pass()
{
    // The rest of the application gets its share first; with the default Speed returning to the
    // event loop between passes is that share.
    for (int i = 0; i < 5000 - maxSpeed; ++i) {
        QCoreApplication::processEvents();
    }
    if (!KeepPumping()) {
        return;
    }
    std::exception_ptr failure;
    std::vector<std::uint64_t> serials;
    serials.reserve(connectors.size());
    for (TMMConnector* c : connectors) {
        serials.push_back(c->m_serial);
    }
    for (std::uint64_t serial : serials) {
        TMMConnector* c = Find(serial);
        if (!c || !c->m_inPump || !c->m_enabled || !c->m_running) {
            continue;
        }
        try {
            c->DeliverDue();
        } catch (...) {
            // The other connectors still get their pass; the error is reported after it.
            if (!failure) {
                failure = std::current_exception();
            }
        }
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

bool TMMConnectorWindow::event(QEvent* e)
{
    const QEvent::Type type = e->type();
    if (type == kStartMessage || type == kTriggerMessage) {
        TMMConnector* c = Find(static_cast<ConnectorEvent*>(e)->serial);
        if (c && type == kStartMessage) {
            c->HandleStart();
        } else if (c) {
            c->HandleTrigger();
        }
        return true;
    }
    if (type == kPumpMessage) {
        // A buffer arrived: its first blocks are due now.
        m_timer.stop();
        TimerPass();
        return true;
    }
    return QObject::event(e);
}

// ---------------------------------------------------------------------------------------------

// A pass under way. The displays it calls may stop, restart or disable the connector (the
// buffers go or change size) or destroy it; the pass then ends after that display's update.
struct TMMConnector::TPass {
    explicit TPass(TMMConnector* connector)
        : connector(connector)
        , epoch(connector->m_epoch)
    {
        connector->m_pass = this;
    }
    ~TPass()
    {
        if (alive) {
            connector->m_pass = nullptr;
        }
    }
    TPass(const TPass&) = delete;
    TPass& operator=(const TPass&) = delete;
    // Whether the pass may go on; reads nothing of a destroyed connector.
    bool Valid() const { return alive && epoch == connector->m_epoch; }

    TMMConnector* connector;
    const std::uint64_t epoch;
    bool alive = true; // cleared by the connector's destructor
};

TMMConnector::TMMConnector(QObject* AOwner)
    : TMMDSPComponent(AOwner)
    , m_serial(gNextSerial++)
{
    if (!TMMConnectorWindow::window) {
        TMMConnectorWindow::window = new TMMConnectorWindow;
    }
    TMMConnectorWindow::connectors.push_back(this);
    TMMConnectorWindow::RecomputeSpeed();
}

TMMConnector::~TMMConnector()
{
    // Destroyed from inside a display's update: the pass under way ends after that update.
    if (m_pass) {
        m_pass->alive = false;
    }
    MarkDestroying();
    ChainStop();
    for (IMMDisplay* display : m_slots) {
        if (display) {
            display->RemoveWatcher(this);
        }
    }
    auto& list = TMMConnectorWindow::connectors;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
    if (list.empty()) {
        delete TMMConnectorWindow::window;
        TMMConnectorWindow::window = nullptr;
    } else {
        TMMConnectorWindow::RecomputeSpeed();
    }
}

void TMMConnector::SetClock(Clock clock)
{
    gClock = clock;
}

std::int64_t TMMConnector::Now()
{
    if (const Clock clock = gClock.load()) {
        return clock();
    }
    return std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int TMMConnector::RunningAutoConnectors()
{
    return TMMConnectorWindow::runningAuto;
}

bool TMMConnector::EnterIdle()
{
    return TMMConnectorWindow::enterIdle;
}

void TMMConnector::SetEnterIdle(bool value)
{
    TMMConnectorWindow::enterIdle = value;
}

bool TMMConnector::OnPumpThread() const
{
    const QObject* window = TMMConnectorWindow::window;
    return window && QThread::currentThread() == window->thread();
}

// ---- display references ----

IMMDisplay* TMMConnector::Spectrum(int index) const
{
    return index >= 1 && index <= 4 ? m_slots[static_cast<std::size_t>(kSpectrum1 + index - 1)] : nullptr;
}

void TMMConnector::SetSpectrum(int index, IMMDisplay* display)
{
    if (index >= 1 && index <= 4) {
        SetSlot(kSpectrum1 + index - 1, display);
    }
}

int TMMConnector::FamilyOf(int slot)
{
    switch (slot) {
    case kLevel1:
    case kLevel2:
        return fLevel;
    case kMeter1:
    case kMeter2:
        return fMeter;
    case kOscope1:
    case kOscope2:
        return fScope;
    default:
        return fSpectrum;
    }
}

bool TMMConnector::FamilyHasDisplays(int family) const
{
    for (int slot = 0; slot < SlotCount; ++slot) {
        if (m_slots[static_cast<std::size_t>(slot)] && FamilyOf(slot) == family) {
            return true;
        }
    }
    return false;
}

void TMMConnector::SetSlot(int slot, IMMDisplay* display)
{
    auto& held = m_slots[static_cast<std::size_t>(slot)];
    // The twin slot of a pair cannot hold the same display.
    if (display && slot < kSpectrum1 && m_slots[static_cast<std::size_t>(slot ^ 1)] == display) {
        return;
    }
    if (held == display) {
        return;
    }
    IMMDisplay* old = held;
    held = display;
    m_due[static_cast<std::size_t>(FamilyOf(slot))] = false;
    m_onPrevious[static_cast<std::size_t>(FamilyOf(slot))] = false;
    if (old && std::find(m_slots.begin(), m_slots.end(), old) == m_slots.end()) {
        old->RemoveWatcher(this);
    }
    if (display) {
        display->AddWatcher(this);
        ConfigureDisplays();
    }
}

void TMMConnector::DisplayDestroyed(IMMDisplay* display)
{
    for (auto& slot : m_slots) {
        if (slot == display) {
            slot = nullptr;
        }
    }
}

// ---- formats ----

void TMMConnector::SetWaveFormat(const TWaveFormatEx* Value)
{
    TMMDSPComponent::SetWaveFormat(Value);
    ConfigureDisplays();
}

void TMMConnector::ConfigureDisplays()
{
    const TWaveFormatEx* input = WaveFormat();
    if (!input) {
        return;
    }
    const TWaveFormatEx* format = input;
    if (m_started) {
        format = m_format.get();
    } else {
        // Non-PCM input would need a conversion; the capture never produces such data, so it is
        // simply not shown.
        m_inputIsPCM = IsPCMFormat(input);
        if (!m_inputIsPCM) {
            return;
        }
    }
    if (!format) {
        return;
    }
    m_silence = format->wBitsPerSample == 8 ? 128 : 0;
    for (IMMDisplay* display : m_slots) {
        if (display) {
            display->SetPCMFormat(format);
        }
    }
}

void TMMConnector::ResetDisplays()
{
    for (std::size_t i = 0; i < m_slots.size(); ++i) {
        if (IMMDisplay* display = m_slots[i]) {
            display->ResetData();
        }
    }
}

// ---- chain ----

void TMMConnector::ChainStart()
{
    TMMDSPComponent::ChainStart();
    const TWaveFormatEx* input = WaveFormat();
    if (InState(csDesigning) || !input || m_started) {
        return;
    }
    m_inputIsPCM = IsPCMFormat(input);
    const int size = GetBufferSize();
    if (m_inputIsPCM && size > 0) {
        m_format = CopyWaveFormat(input);
        m_silence = input->wBitsPerSample == 8 ? 128 : 0;
        m_intake.assign(static_cast<std::size_t>(size), m_silence);
        m_previous.assign(static_cast<std::size_t>(size), m_silence);
    }
    m_valid = 0;
    m_due.fill(false);
    m_onPrevious.fill(false);
    m_position.fill(0);
    m_delivered.fill(0);
    ++m_epoch;
    if (!m_inputIsPCM || m_intake.empty()) {
        return;
    }
    {
        std::lock_guard lock(m_handOver);
        for (auto& slot : m_arrived) {
            slot.assign(static_cast<std::size_t>(size), m_silence);
        }
        m_arrivals = 0;
        m_silenceDue = false;
        m_started = true;
    }
    TMMConnectorWindow::RecomputeSpeed();
    ConfigureDisplays();
    if (m_enabled && m_realTime) {
        PostStart();
    }
}

void TMMConnector::PostStart()
{
    if (TMMConnectorWindow::window) {
        QCoreApplication::postEvent(TMMConnectorWindow::window, new ConnectorEvent(kStartMessage, m_serial));
    }
}

void TMMConnector::HandleStart()
{
    if (!m_started) {
        return;
    }
    m_triggerRequests = 0;
    m_running = true;
    if (m_autoTrigger && !m_inPump) {
        m_inPump = true;
        ++TMMConnectorWindow::runningAuto;
        TMMConnectorWindow::window->StartPump();
    }
}

void TMMConnector::LeavePump()
{
    if (m_inPump) {
        m_inPump = false;
        --TMMConnectorWindow::runningAuto;
    }
}

void TMMConnector::DeliverBuffer(PWaveHdr lpWaveHdr)
{
    if (lpWaveHdr) {
        const WaveHeader* read = lpWaveHdr;
        if (m_synchronize && lpWaveHdr->SyncHeader && lpWaveHdr->dwBytesRecorded != 0) {
            read = lpWaveHdr->SyncHeader;
        }
        TakeData(read->lpData, static_cast<int>(read->dwBytesRecorded));
    }
    TMMDSPComponent::DeliverBuffer(lpWaveHdr);
}

bool TMMConnector::RequestBuffer(PWaveHdr lpWaveHdr, bool& MoreBuffers)
{
    const bool result = TMMDSPComponent::RequestBuffer(lpWaveHdr, MoreBuffers);
    if (lpWaveHdr) {
        TakeData(lpWaveHdr->lpData, static_cast<int>(lpWaveHdr->dwBytesRecorded));
    }
    return result;
}

void TMMConnector::TakeData(const void* data, int bytes)
{
    if (!data) {
        return;
    }
    const std::int64_t arrival = Now();
    {
        std::lock_guard lock(m_handOver);
        // Read here, under the lock the user-interface thread changes them under, so that no
        // buffer slips in after a stop, a pause or a disable.
        if (!m_enabled || !m_started || m_paused || !m_inputIsPCM || m_arrived[0].empty()) {
            return;
        }
        // The newest becomes the one before; the one before that is overwritten (a pump that fell
        // further behind skips it).
        std::swap(m_arrived[0], m_arrived[1]);
        m_arrivedValid[1] = m_arrivedValid[0];
        m_arrivedAt[1] = m_arrivedAt[0];
        bytes = std::clamp(bytes, 0, static_cast<int>(m_arrived[0].size()));
        std::memcpy(m_arrived[0].data(), data, static_cast<std::size_t>(bytes));
        m_arrivedValid[0] = bytes;
        m_arrivedAt[0] = arrival;
        m_arrivals = std::min(m_arrivals + 1, 2);
    }
    TMMConnectorWindow::Wake();
    if (!m_realTime && m_autoTrigger) {
        // Displays are drawn on the user-interface thread only: from elsewhere the pass is posted.
        if (OnPumpThread()) {
            Deliver();
        } else if (m_triggerRequests == 0 && TMMConnectorWindow::window) {
            ++m_triggerRequests;
            QCoreApplication::postEvent(
                TMMConnectorWindow::window, new ConnectorEvent(kTriggerMessage, m_serial));
        }
    }
}

void TMMConnector::TakeIn()
{
    if (m_pass || m_intake.empty()) {
        return;
    }
    // The pump wakes about once per display refresh, so a buffer may come before the last one
    // went out whole: a family still inside it finishes it first (one buffer back at most); every
    // other family starts on the new one. A pass on demand (AutoTrigger off, or RealTime off)
    // always starts on the newest.
    const bool keep = m_realTime && m_autoTrigger;
    const auto arrive = [&] {
        bool older = false;
        for (int f = 0; f < FamilyCount; ++f) {
            const auto fi = static_cast<std::size_t>(f);
            if (keep && m_due[fi]) {
                if (m_onPrevious[fi]) {
                    m_position[fi] = 0; // the buffer it was on goes: the one after it is next
                }
                m_onPrevious[fi] = true;
                older = true;
            } else {
                m_onPrevious[fi] = false;
                m_position[fi] = 0;
            }
            m_due[fi] = FamilyHasDisplays(f);
        }
        return older;
    };
    bool silence = false;
    std::int64_t silenceAt = 0;
    {
        std::lock_guard lock(m_handOver);
        silence = std::exchange(m_silenceDue, false);
        silenceAt = m_silenceAt;
        const int arrivals = std::exchange(m_arrivals, 0);
        if (arrivals == 1) {
            if (arrive()) {
                std::swap(m_intake, m_previous);
                m_previousValid = m_valid;
                m_previousArrival = m_arrival;
            }
        } else if (arrivals == 2) {
            arrive();
            if (arrive()) {
                std::swap(m_previous, m_arrived[1]);
                m_previousValid = m_arrivedValid[1];
                m_previousArrival = m_arrivedAt[1];
            }
        }
        if (arrivals > 0) {
            std::swap(m_intake, m_arrived[0]);
            m_valid = m_arrivedValid[0];
            m_arrival = m_arrivedAt[0];
        }
    }
    if (silence && m_paused) {
        // Silence again from the start of the buffer, so the displays fall back to rest.
        m_arrival = silenceAt;
        m_onPrevious.fill(false);
        for (int f = 0; f < FamilyCount; ++f) {
            if (FamilyHasDisplays(f)) {
                m_due[static_cast<std::size_t>(f)] = true;
                m_position[static_cast<std::size_t>(f)] = 0;
            }
        }
    }
}

int TMMConnector::FamilyBlock(int family, bool& wanted, IMMDisplay*& first) const
{
    int block = 0;
    wanted = false;
    first = nullptr;
    for (int slot = 0; slot < SlotCount; ++slot) {
        IMMDisplay* d = m_slots[static_cast<std::size_t>(slot)];
        if (d && FamilyOf(slot) == family) {
            block = std::max(block, d->BytesNeeded());
            wanted = wanted || d->WantsData();
            if (!first) {
                first = d;
            }
        }
    }
    return block;
}

bool TMMConnector::DeliverBlock(int family, std::int64_t now, bool batch, const TPass& pass)
{
    const auto fi = static_cast<std::size_t>(family);
    bool wanted = false;
    IMMDisplay* scope = nullptr;
    const int block = FamilyBlock(family, wanted, scope);
    if (block <= 0 || !wanted) {
        // No display left, none that takes data, or none that would show it now.
        m_due[fi] = false;
        m_onPrevious[fi] = false;
        return false;
    }
    const auto avg = static_cast<std::int64_t>(std::max<std::uint32_t>(m_format->nAvgBytesPerSec, 1));
    for (;;) {
        const bool previous = m_onPrevious[fi];
        const std::uint8_t* buffer = previous ? m_previous.data() : m_intake.data();
        const int valid = previous ? m_previousValid : m_valid;
        const std::int64_t arrival = previous ? m_previousArrival : m_arrival;
        int& position = m_position[fi];
        int offset = -1;
        if (family == fScope && m_triggerMode != tmNone && !m_paused && position < valid) {
            offset = FindTrigger(
                m_format.get(), buffer + position, valid - position, m_triggerLevel, m_triggerMode);
        }
        const bool fits = position + std::max(offset, 0) + block <= valid;
        if (previous && !fits) {
            // The older buffer has gone out: on to the newer one, from its start.
            m_onPrevious[fi] = false;
            position = 0;
            continue;
        }
        if (batch && !fits) {
            // The buffer's last block has gone out: nothing left to wake up for.
            m_due[fi] = false;
            return false;
        }
        if (m_synchronize && now - arrival < static_cast<std::int64_t>(position) * 1000000 / avg) {
            return false; // its moment has not come; a later pass delivers it
        }
        int start = position;
        if (offset > 0) {
            start += offset;
            position += offset;
        }
        const int step = family == fScope && scope->ScrollStep() > 0 ? scope->ScrollStep() : block;
        position += step;
        if (start + block > valid) {
            m_due[fi] = false;
            return false;
        }
        for (int slot = 0; slot < SlotCount; ++slot) {
            // Read afresh each time: an update may have changed the slots.
            IMMDisplay* d = m_slots[static_cast<std::size_t>(slot)];
            if (!d || FamilyOf(slot) != family || start + d->BytesNeeded() > valid) {
                continue;
            }
            d->ProcessData(buffer + start);
            if (!pass.Valid()) {
                return false;
            }
        }
        ++m_delivered[fi];
        m_lastDelivery = now;
        return true;
    }
}

int TMMConnector::Pass(bool batch)
{
    if (m_pass || !m_enabled || !(m_running || (!m_realTime && m_started))) {
        return 0;
    }
    TakeIn();
    if (m_intake.empty() || !m_format) {
        return 0;
    }
    int delivered = 0;
    {
        TPass pass(this);
        const std::int64_t now = Now();
        for (int f = 0; f < FamilyCount && pass.Valid(); ++f) {
            while (m_due[static_cast<std::size_t>(f)] && DeliverBlock(f, now, batch, pass)) {
                ++delivered;
                if (!batch) {
                    break;
                }
            }
        }
        if (!pass.alive) {
            return delivered;
        }
    }
    if (OnTrigger) {
        OnTrigger(this);
    }
    return delivered;
}

void TMMConnector::Deliver()
{
    Pass(false);
}

int TMMConnector::DeliverDue()
{
    return Pass(true);
}

std::int64_t TMMConnector::NextDue()
{
    TakeIn();
    std::int64_t next = INT64_MAX;
    if (m_intake.empty() || !m_format) {
        return next;
    }
    const auto avg = static_cast<std::int64_t>(std::max<std::uint32_t>(m_format->nAvgBytesPerSec, 1));
    for (int f = 0; f < FamilyCount; ++f) {
        const auto fi = static_cast<std::size_t>(f);
        if (!m_due[fi]) {
            continue;
        }
        const std::int64_t at
            = m_synchronize ? m_arrival + static_cast<std::int64_t>(m_position[fi]) * 1000000 / avg : 0;
        next = std::min(next, at);
    }
    return next;
}

std::int64_t TMMConnector::NextBatch(std::int64_t now)
{
    TakeIn();
    if (m_intake.empty() || !m_format) {
        return INT64_MAX;
    }
    const auto avg = static_cast<std::int64_t>(std::max<std::uint32_t>(m_format->nAvgBytesPerSec, 1));
    std::int64_t due = INT64_MAX;
    for (int f = 0; f < FamilyCount; ++f) {
        const auto fi = static_cast<std::size_t>(f);
        if (!m_due[fi]) {
            continue;
        }
        if (m_onPrevious[fi] || !m_synchronize) {
            due = std::min(due, now);
        } else {
            due = std::min(due, m_arrival + static_cast<std::int64_t>(m_position[fi]) * 1000000 / avg);
        }
    }
    if (due == INT64_MAX) {
        // All out. While buffers keep coming and being shown the beat goes on, so the capture
        // thread need not wake the pump for each one; otherwise the next buffer wakes it.
        const std::int64_t buffer = static_cast<std::int64_t>(m_valid) * 1000000 / avg;
        if (now - m_arrival >= 2 * buffer || now - m_lastDelivery >= 2 * buffer) {
            return INT64_MAX;
        }
        due = now;
    }
    const std::int64_t at = std::max(due, now + 1);
    return (at + kBatchInterval - 1) / kBatchInterval * kBatchInterval;
}

void TMMConnector::FillSilence()
{
    std::fill(m_intake.begin(), m_intake.end(), m_silence);
    m_onPrevious.fill(false);
}

void TMMConnector::PauseTick(std::uint32_t, void* data)
{
    auto* c = static_cast<TMMConnector*>(data);
    {
        // The pump takes it over: the delivery state is the user-interface thread's.
        std::lock_guard lock(c->m_handOver);
        if (!c->m_paused) {
            return;
        }
        c->m_silenceDue = true;
        c->m_silenceAt = Now();
    }
    TMMConnectorWindow::Wake();
}

void TMMConnector::StopPauseTimer()
{
    // Never under m_handOver: the timer thread holds its own lock while it waits for ours.
    if (m_pauseTimer) {
        TimerUnsubscribe(m_pauseTimer);
        m_pauseTimer = 0;
    }
}

void TMMConnector::ChainPause()
{
    if (!InState(csDesigning) && m_started && !m_paused) {
        {
            // A buffer not yet taken over would overwrite the silence.
            std::lock_guard lock(m_handOver);
            m_paused = true;
            m_arrivals = 0;
        }
        FillSilence();
        if (m_realTime && !m_pauseTimer) {
            const int size = GetBufferSize();
            const int interval = size > 8191 || !m_format ? 25 : BytesToMs(m_format.get(), size);
            // The silence fills the whole buffer, so every family sees full blocks of it.
            m_valid = static_cast<int>(m_intake.size());
            m_pauseTimer = TimerSubscribe(interval, false, &TMMConnector::PauseTick, this);
            if (!m_pauseTimer) {
                throw EOutOfResources(zv::LoadResString(zv::SOutOfTimers));
            }
        }
    }
    TMMDSPComponent::ChainPause();
}

void TMMConnector::ChainRestart()
{
    if (!InState(csDesigning) && m_paused) {
        {
            std::lock_guard lock(m_handOver);
            m_paused = false;
            m_silenceDue = false;
        }
        if (m_realTime) {
            StopPauseTimer();
        }
    }
    TMMDSPComponent::ChainRestart();
}

void TMMConnector::ChainFlush()
{
    if (m_started) {
        FillSilence();
    }
    TMMDSPComponent::ChainFlush();
}

void TMMConnector::ChainStop()
{
    if (!InState(csDesigning) && m_started) {
        {
            std::lock_guard lock(m_handOver);
            m_started = false;
            m_paused = false;
            m_arrivals = 0;
            m_silenceDue = false;
            for (auto& slot : m_arrived) {
                slot.clear();
                slot.shrink_to_fit();
            }
        }
        m_running = false;
        LeavePump();
        StopPauseTimer();
        ++m_epoch; // a pass under way reads the buffers freed here
        m_intake.clear();
        m_intake.shrink_to_fit();
        m_previous.clear();
        m_previous.shrink_to_fit();
        m_valid = 0;
        m_due.fill(false);
        m_onPrevious.fill(false);
        m_format.reset();
        if (m_refreshOnStop) {
            ResetDisplays();
        }
    }
    TMMDSPComponent::ChainStop();
}

// ---- properties ----

void TMMConnector::SetEnabled(bool value)
{
    if (value == m_enabled) {
        return;
    }
    {
        // Disabled, the intake drops what has not been taken over: deliveries resume with the
        // next buffer after enabling.
        std::lock_guard lock(m_handOver);
        m_enabled = value;
        if (!value) {
            m_arrivals = 0;
            m_silenceDue = false;
        }
    }
    if (!value) {
        m_running = false;
        LeavePump();
        ++m_epoch;
        m_due.fill(false);
        m_onPrevious.fill(false);
        ResetDisplays();
    } else if (m_started && m_realTime) {
        PostStart();
    }
}

void TMMConnector::SetAutoTrigger(bool value)
{
    if (value == m_autoTrigger) {
        return;
    }
    m_autoTrigger = value;
    if (!value) {
        // Off the pump, but still taken on, so Trigger keeps working.
        LeavePump();
    } else if (m_started && m_enabled && m_realTime) {
        PostStart();
    }
}

void TMMConnector::SetSpeed(int value)
{
    m_speed = std::clamp(value, 1, 5000);
    TMMConnectorWindow::RecomputeSpeed();
}

void TMMConnector::SetRealTime(bool value)
{
    if (value == m_realTime) {
        return;
    }
    if (Opened()) {
        throw EMMConnectorError(zv::LoadResString(zv::SPropertyWhileOpen));
    }
    m_realTime = value;
}

void TMMConnector::Trigger()
{
    if (!m_enabled || !(m_running || (!m_realTime && m_started)) || m_autoTrigger || m_triggerRequests > 0) {
        return;
    }
    if (OnPumpThread()) {
        Deliver();
    } else if (TMMConnectorWindow::window) {
        ++m_triggerRequests;
        QCoreApplication::postEvent(
            TMMConnectorWindow::window, new ConnectorEvent(kTriggerMessage, m_serial));
    }
}

void TMMConnector::HandleTrigger()
{
    if (m_enabled && (m_running || (!m_realTime && m_started))) {
        try {
            Deliver();
        } catch (...) {
            --m_triggerRequests;
            throw;
        }
    }
    --m_triggerRequests;
}

// ---- state ----

int TMMConnector::ValidBytes()
{
    TakeIn();
    return m_valid;
}

int TMMConnector::Position(Family family)
{
    TakeIn();
    return m_position[static_cast<std::size_t>(family)];
}

bool TMMConnector::Due(Family family)
{
    TakeIn();
    return m_due[static_cast<std::size_t>(family)];
}

int TMMConnector::FindTrigger(
    const TWaveFormatEx* format, const void* data, int bytes, int levelPercent, TMMTriggerMode mode)
{
    if (mode == tmNone || !format || !data || bytes <= 0) {
        return -1;
    }
    const int level = mode == tmDownFlank ? -levelPercent : levelPercent;
    const bool eight = format->wBitsPerSample == 8;
    const int threshold = eight ? level * 127 / 100 + 128 : level * 327;
    const int sampleBytes = eight ? 1 : 2;
    // Stereo data is tested on its left channel.
    const int frame = std::max<int>(format->nBlockAlign, sampleBytes);
    const auto* p = static_cast<const std::uint8_t*>(data);
    auto sample = [&](int offset) {
        if (eight) {
            return static_cast<int>(p[offset]);
        }
        std::int16_t v;
        std::memcpy(&v, p + offset, sizeof v);
        return static_cast<int>(v);
    };
    if (bytes < sampleBytes) {
        return -1;
    }
    int previous = sample(0);
    for (int offset = frame; offset + sampleBytes <= bytes; offset += frame) {
        const int current = sample(offset);
        if (mode == tmUpFlank ? (previous < threshold && current >= threshold)
                              : (previous > threshold && current <= threshold)) {
            return offset;
        }
        previous = current;
    }
    return -1;
}
