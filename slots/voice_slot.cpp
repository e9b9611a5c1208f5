#include "slots/voice_slot.hpp"

#include "core/ext.hpp"
#include "core/paths.hpp"
#include "hardware/mcc_channel.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <string_view>

#include <fcntl.h>
#include <unistd.h>

namespace {

// MCC_ALLOCATE words of a voice channel: transparent, 1024-byte blocks, and
// the transmit or receive threshold.
constexpr mcc_allocate_params kPlayerChannel{{2, 1024, 0, 0, 5}};
constexpr mcc_allocate_params kRecorderChannel{{2, 1024, 0, 5, 0}};

template <class T>
void Forget(std::vector<T*>& list, T* item)
{
    list.erase(std::remove(list.begin(), list.end(), item), list.end());
}

LGCP::IoctlResponse StartPlaying()
{
    LGCP::IoctlResponse r;
    r.set_startPlaying();
    return r;
}

} // namespace

std::string dhost2str(TERM::HostAddress const& address)
{
    return static_cast<std::string const&>(address.get_iaddr()) + ":" +
           std::to_string(address.get_port().getValue());
}

bool IsPhraseNameSafe(std::string const& name)
{
    // The C library would end the name at a NUL, so "\0../x" and "\0" are
    // not what they look like.
    if (name.empty() || name.front() == '/' || name.find('\0') != std::string::npos)
        return false;
    // Words other than "." and empty ones name something below the folder;
    // a name of none names the folder itself.
    bool names = false;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = name.find('/', start);
        std::string_view word(name.data() + start, (end == std::string::npos ? name.size() : end) - start);
        if (word == "..")
            return false;
        if (!word.empty() && word != ".")
            names = true;
        if (end == std::string::npos)
            return names;
        start = end + 1;
    }
}

// ------------------------------------------------------------ players

PlaySlotGeneric::PlaySlotGeneric(VoiceFactory* owner, DeviceFd channel, int timeslot)
    : timeslot(timeslot), mccFd(std::move(channel)), owner_(owner)
{}

PlaySlotGeneric::~PlaySlotGeneric()
{
    // A slot deleted without its destroy (the host lost) leaves the list too.
    if (owner_ != nullptr)
        owner_->OnDestroy(this);
}

bool PlaySlotGeneric::IBeforeDestroy()
{
    if (owner_ != nullptr)
        owner_->OnDestroy(this);
    return true;
}

void PlaySlotGeneric::PutHeader(std::ostream& os) const
{
    os << GetName() << "[" << timeslot << "]: ";
}

PlaySlotNetwork::PlaySlotNetwork(VoiceFactory* owner, DeviceFd channel, int timeslot, std::string host,
                                 int id)
    : PlaySlotGeneric(owner, std::move(channel), timeslot), host_(std::move(host)), id_(id)
{}

bool PlaySlotNetwork::IOnOutputStream()
{
    // Only the first listener starts the stream; later ones share it.
    if (state_ == Idle) {
        state_ = Connecting;
        OnChangeOutputStream(true);
        connector_ = std::make_unique<ASync::Connect>();
        connector_->Bind(&PlaySlotNetwork::OnConnect, this);
        connector_->Start(host_, ConnectTimeoutMs);
        // An address that cannot be reached at all fails at once: the
        // player has been released already and takes no listener.
        if (state_ == Released)
            return false;
    }
    OnChangeOutputStream(true);
    return timeslot >= 0;
}

void PlaySlotNetwork::OnConnect(ASync::Connect::Status::Type status, Fd fd)
{
    if (status != ASync::Connect::Status::Connected) {
        std::clog << ext::header(this) << "connection to " << host_ << " fail." << std::endl;
        Release();
        return;
    }
    std::clog << ext::header(this) << "connected to " << host_ << "." << std::endl;
    OnIoctlResponse(StartPlaying());
    state_ = Playing;
    // `fd` belongs to the connector's call, not to the connector: it stays
    // valid after the connector is gone.
    connector_.reset();

    // The stream id leads the connection, most significant octet first on
    // every build, as the board and the peer read it.
    const auto v = static_cast<std::uint32_t>(id_);
    const unsigned char idBytes[4] = {static_cast<unsigned char>(v >> 24),
                                      static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 8),
                                      static_cast<unsigned char>(v)};
    ssize_t n;
    do {
        n = ::write(fd.get(), idBytes, sizeof idBytes);
    } while (n < 0 && errno == EINTR);
    if (n != static_cast<ssize_t>(sizeof idBytes)) {
        std::cerr << ext::header(this) << "play failed" << std::endl;
        Release();
        return;
    }
    copier_ = std::make_unique<ASync::Copy>();
    copier_->Bind(&PlaySlotNetwork::OnCopy, this);
    copier_->Start(fd, mccFd.fd()); // may end at once and release the player
}

void PlaySlotNetwork::OnCopy(ASync::Copy::Status::Type status)
{
    if (status == ASync::Copy::Status::Done)
        std::clog << ext::header(this) << "connection to " << host_ << " closed." << std::endl;
    else
        std::cerr << ext::header(this) << "play failed" << std::endl;
    Release();
}

void PlaySlotNetwork::Release()
{
    state_ = Released;
    OnChangeOutputStream(false);
    // Either may be the caller: both are written to be dropped inside their
    // own handler.
    copier_.reset();
    connector_.reset();
    OnAbort(0);
}

PlaySlotFile::PlaySlotFile(VoiceFactory* owner, DeviceFd channel, int timeslot,
                           std::vector<std::string> phrases, int repeat)
    : PlaySlotGeneric(owner, std::move(channel), timeslot),
      repeat_(repeat),
      phrases_(std::move(phrases)),
      next_(phrases_.cbegin())
{
    abortDpc_.Bind(this, &PlaySlotFile::delayed_abort);
}

bool PlaySlotFile::IOnOutputStream()
{
    if (!started_) {
        released_ = false;
        if (!restart()) {
            // The host hears of it after the answer to its connect.
            abortDpc_.Activate();
            return false;
        }
        // The first block may already have failed on the channel.
        if (released_)
            return false;
        started_ = true;
    }
    OnChangeOutputStream(true);
    return timeslot >= 0;
}

bool PlaySlotFile::restart()
{
    next_ = phrases_.cbegin();
    return next_phrase();
}

bool PlaySlotFile::next_phrase()
{
    while (next_ != phrases_.cend()) {
        const std::string& name = *next_++;
        if (!IsPhraseNameSafe(name)) {
            std::cerr << ext::header(this) << "phrase name refused: \"" << name << "\"" << std::endl;
            continue;
        }
        phraseFd_.reset(::open(RootPath(kVoiceFolder + name).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        if (!phraseFd_)
            continue; // a missing phrase is skipped
        ::lseek(phraseFd_.get(), 0, SEEK_SET);
        copier_ = std::make_unique<ASync::Copy>();
        copier_->Bind(&PlaySlotFile::OnCopy, this);
        copier_->set_bufsize(BufferSize);
        copier_->Start(phraseFd_.fd(), mccFd.fd());
        return true;
    }
    phraseFd_.reset();
    return false;
}

void PlaySlotFile::OnCopy(ASync::Copy::Status::Type status)
{
    if (status != ASync::Copy::Status::Done) {
        Release();
        return;
    }
    if (next_phrase())
        return;
    // The list is through: one pass less to go.
    if (repeat_ > 0 && --repeat_ == 0) {
        Release();
        return;
    }
    if (!restart())
        OnAbort(0);
}

void PlaySlotFile::Release()
{
    released_ = true;
    OnChangeOutputStream(false);
    copier_.reset();
    phraseFd_.reset();
    OnAbort(0);
}

void PlaySlotFile::delayed_abort()
{
    // Once: the host knows, and the slot waits for its destroy.
    abortDpc_.Deactivate();
    OnAbort(0);
}

// ----------------------------------------------------------- recorder

RecordSlot::RecordSlot(VoiceFactory* owner, DeviceFd channel, int timeslot, std::string host)
    : timeslot(timeslot), mccFd(std::move(channel)), host_(std::move(host)), owner_(owner)
{}

RecordSlot::~RecordSlot()
{
    if (owner_ != nullptr)
        owner_->OnDestroy(this);
}

void RecordSlot::PutHeader(std::ostream& os) const
{
    os << GetName() << "[" << timeslot << "]: ";
}

void RecordSlot::IAfterCreate()
{
    OnChangeInputStream(true);
}

bool RecordSlot::IBeforeDestroy()
{
    if (owner_ != nullptr)
        owner_->OnDestroy(this);
    return true;
}

bool RecordSlot::IOnInputStream()
{
    // A new source means a new recording, on a connection of its own.
    connector_ = std::make_unique<ASync::Connect>();
    connector_->Bind(&RecordSlot::OnConnect, this);
    connector_->Start(host_, ConnectTimeoutMs);
    return true;
}

void RecordSlot::OnConnect(ASync::Connect::Status::Type status, Fd fd)
{
    if (status != ASync::Connect::Status::Connected) {
        std::clog << ext::header(this) << "connection to " << host_ << " fail." << std::endl;
        StopRecording(LGCP::StopRecordingCause::connectionFail);
        return;
    }
    std::clog << ext::header(this) << "connected to " << host_ << "." << std::endl;
    connector_.reset();
    // Nothing but audio goes to the peer, and the copy is over as soon as
    // the last bytes are written: no wait for the peer to drain them.
    ASync::Copy::EventsParams events;
    events.flush = 0;
    copier_ = std::make_unique<ASync::Copy>();
    copier_->Bind(&RecordSlot::OnCopy, this);
    copier_->set_events(events);
    copier_->Start(mccFd.fd(), fd);
}

void RecordSlot::OnCopy(ASync::Copy::Status::Type status)
{
    if (status == ASync::Copy::Status::Done) {
        std::clog << ext::header(this) << "connection to " << host_ << " closed." << std::endl;
        StopRecording(LGCP::StopRecordingCause::userRequest);
    } else {
        std::cerr << ext::header(this) << "record aborted" << std::endl;
        StopRecording(LGCP::StopRecordingCause::connectionAborted);
    }
}

void RecordSlot::StopRecording(LGCP::StopRecordingCause::NamedNumber cause)
{
    copier_.reset();
    connector_.reset();
    LGCP::IoctlResponse r;
    r.set_stopRecording(cause);
    OnIoctlResponse(r);
}

// ------------------------------------------------------------ factory

VoiceFactory* VoiceFactory::instance()
{
    static VoiceFactory factory;
    return &factory;
}

void VoiceFactory::PutHeader(std::ostream& os) const
{
    // The bracket held a counter once; it never moved from 0.
    os << "voice/mcc"
       << "[" << 0 << "]: ";
}

Slot* VoiceFactory::INewSlot(LGCP::CreateParams const& params)
{
    if (!params.is_voice())
        return nullptr;
    LGCP::VoiceParams const& v = params.get_voice();
    if (v.is_record())
        return CreateRecord(dhost2str(v.get_record()));
    if (v.is_player())
        return CreatePlay(v.get_player());
    return nullptr;
}

namespace {

// The channel, or the logged reason why there is none.
MccRawChannel AllocateVoiceChannel(VoiceFactory const& factory, bool player)
{
    MccRawChannel ch = AllocateMccChannel(player ? O_WRONLY | O_NONBLOCK : O_RDONLY | O_NONBLOCK,
                                          player ? kPlayerChannel : kRecorderChannel);
    switch (ch.failed) {
    case MccRawChannel::Step::None:
        break;
    case MccRawChannel::Step::Open:
        std::cerr << ext::header(&factory) << "fail to open /dev/mcc/ctl device for "
                  << (player ? "writing: " : "reading: ") << std::strerror(ch.error) << std::endl;
        break;
    case MccRawChannel::Step::Allocate:
        std::cerr << ext::header(&factory) << "MCC_ALLOCATE fail: " << std::strerror(ch.error) << std::endl;
        break;
    case MccRawChannel::Step::Timeslot:
        std::cerr << ext::header(&factory) << "MCC_TIMESLOT request failed." << std::endl;
        break;
    }
    return ch;
}

} // namespace

Slot* VoiceFactory::CreatePlay(LGCP::PlayerParams const& params)
{
    // A kind of player this program does not know takes no channel.
    if (!params.is_network() && !params.is_file())
        return nullptr;
    MccRawChannel ch = AllocateVoiceChannel(*this, true);
    if (!ch)
        return nullptr;
    PlaySlotGeneric* slot;
    if (params.is_network()) {
        LGCP::PlayerParams_network const& n = params.get_network();
        slot = new PlaySlotNetwork(this, std::move(ch.fd), ch.timeslot, dhost2str(n.get_host()),
                                   n.get_id().getValue());
    } else {
        LGCP::PlayerParams_file const& f = params.get_file();
        std::vector<std::string> names;
        for (ASN1::IA5String const& name : f.get_name())
            names.push_back(name);
        slot = new PlaySlotFile(this, std::move(ch.fd), ch.timeslot, std::move(names),
                                f.get_repeat().getValue());
    }
    players.push_back(slot);
    return slot;
}

Slot* VoiceFactory::CreateRecord(std::string const& host)
{
    MccRawChannel ch = AllocateVoiceChannel(*this, false);
    if (!ch)
        return nullptr;
    auto* slot = new RecordSlot(this, std::move(ch.fd), ch.timeslot, host);
    recorders.push_back(slot);
    return slot;
}

void VoiceFactory::OnDestroy(RecordSlot* slot)
{
    Forget(recorders, slot);
}

void VoiceFactory::OnDestroy(PlaySlotGeneric* slot)
{
    Forget(players, slot);
}
