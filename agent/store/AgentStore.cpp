#include "agent/store/AgentStore.h"

#include <boost/archive/archive_exception.hpp>
#include <boost/archive/text_iarchive.hpp>
#include <boost/archive/text_oarchive.hpp>
#include <boost/serialization/export.hpp>
#include <boost/serialization/nvp.hpp>
#include <boost/serialization/split_free.hpp>
#include <boost/serialization/string.hpp>
#include <exception>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "common/err/Errors.h"
#include "common/msg/QXMessage.h"
#include "common/util/FileUtils.h"

namespace {

// The state's part of the file: the persisted values in their fixed order. Loading reads
// them from source, the file the archive reads.
struct StateRecord {
    CAgentState::Persisted values;
    std::istream* source = nullptr;
};

// The output queue's part: "count", then each message as a pointer to its interface.
struct QueueRecord {
    std::vector<msg::IQXMessage*> messages;
};

constexpr const char* kSource = "AgentStore";

// A text value (the archive's own signature too) is written as its length and then its
// bytes; the archive sizes the value by the length before it reads a byte. A length beyond the
// bytes left in the file is refused first, so that a damaged or hostile file cannot make the agent
// ask for any amount of memory; the refusal is the archive's own kind of reading error. What
// is not a length is left to the archive to refuse.
void RequireValueWithinFile(std::istream& source) {
    const std::streampos at = source.tellg();
    source.seekg(0, std::ios::end);
    const std::streamoff left = source.tellg() - at;
    source.seekg(at);
    unsigned long long length = 0;
    const bool read = static_cast<bool>(source >> length);
    source.clear();
    source.seekg(at);
    if (read && at >= 0 && length > static_cast<unsigned long long>(left)) {
        throw boost::archive::archive_exception(
            boost::archive::archive_exception::input_stream_error,
            "the state file gives a value longer than the file");
    }
}

[[noreturn]] void RaiseWriteError(const char* message, int line) {
    throw util::CFileIOError(kSource, message, line, 0, err::LastSystemError());
}

// Writes the bytes to a temporary file beside the target, syncs it and renames it over
// the target.
void ReplaceFile(const std::string& path, const std::string& bytes) {
    const auto failed = util::ReplaceFileContents(path, bytes);
    if (!failed) {
        return;
    }
    switch (*failed) {
        case util::ReplaceStep::Create:
            RaiseWriteError("SaveState - cannot create the state file", __LINE__);
        case util::ReplaceStep::Write:
            RaiseWriteError("SaveState - cannot write the state file", __LINE__);
        case util::ReplaceStep::Flush:
            RaiseWriteError("SaveState - cannot flush the state file", __LINE__);
        case util::ReplaceStep::Rename:
            RaiseWriteError("SaveState - cannot replace the state file", __LINE__);
    }
}

// Moves an unreadable state file out of the way; the reason for the log, with the rename's
// own failure when there was one.
std::string SetAside(const std::string& path, const std::string& reason) {
    std::error_code error;
    std::filesystem::rename(path, DamagedPath(path), error);
    if (error) {
        return reason + "; it could not be renamed: " + error.message();
    }
    return reason;
}

}  // namespace

BOOST_SERIALIZATION_ASSUME_ABSTRACT(msg::IQXMessage)
BOOST_CLASS_EXPORT_GUID(msg::CQXMessage, "msg::CQXMessage")

namespace boost::serialization {

template <class Archive>
void save(Archive& archive, const StateRecord& record, unsigned int /*version*/) {
    for (const std::string& value : record.values) {
        archive << value;
    }
}

template <class Archive>
void load(Archive& archive, StateRecord& record, unsigned int /*version*/) {
    for (std::string& value : record.values) {
        RequireValueWithinFile(*record.source);
        archive >> value;
    }
}

template <class Archive>
void save(Archive& archive, const QueueRecord& record, unsigned int /*version*/) {
    const int count = static_cast<int>(record.messages.size());
    archive << make_nvp("count", count);
    for (msg::IQXMessage* const& message : record.messages) {
        archive << message;
    }
}

template <class Archive>
void load(Archive& archive, QueueRecord& record, unsigned int /*version*/) {
    int count = 0;
    archive >> make_nvp("count", count);
    record.messages.assign(static_cast<std::size_t>(std::max(count, 0)), nullptr);
    for (msg::IQXMessage*& message : record.messages) {
        archive >> message;
    }
}

// A message is kept as its text form.
template <class Archive>
void save(Archive& archive, const msg::CQXMessage& message, unsigned int /*version*/) {
    void_cast_register<msg::CQXMessage, msg::IQXMessage>();
    const std::string text = message.FormatText();
    archive << text;
}

template <class Archive>
void load(Archive& archive, msg::CQXMessage& message, unsigned int /*version*/) {
    void_cast_register<msg::CQXMessage, msg::IQXMessage>();
    std::string text;
    archive >> text;
    message.Parse(text.c_str(), static_cast<int>(text.size()));
}

}  // namespace boost::serialization

BOOST_SERIALIZATION_SPLIT_FREE(StateRecord)
BOOST_SERIALIZATION_SPLIT_FREE(QueueRecord)
BOOST_SERIALIZATION_SPLIT_FREE(msg::CQXMessage)

void SaveAgentState(const std::string& path, CAgentState& state, const MsgFifoQueue& outputQueue) {
    std::ostringstream bytes;
    {
        boost::archive::text_oarchive archive(bytes);
        const StateRecord stateRecord{state.TakePersisted()};
        const QueueRecord queueRecord{outputQueue.Contents()};
        archive << stateRecord << queueRecord;
    }
    ReplaceFile(path, bytes.str());
}

std::string DamagedPath(const std::string& path) {
    return path + ".damaged";
}

std::string LoadAgentState(const std::string& path, CAgentState& state) {
    if (!util::FileExists(path)) {
        return {};
    }
    StateRecord record;
    try {
        // Read as the bytes they were written: a text stream on Windows would turn a value's
        // CR LF into LF and read past the string's length.
        std::ifstream file(path, std::ios::binary);
        RequireValueWithinFile(file);  // the archive's signature comes first, as a text value
        boost::archive::text_iarchive archive(file);
        record.source = &file;
        archive >> record;
    } catch (const std::exception& error) {
        return SetAside(path, error.what());
    }
    state.RestorePersisted(record.values);
    return {};
}
