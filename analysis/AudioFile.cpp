#include "analysis/AudioFile.h"

#include <sndfile.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <new>
#include <system_error>

namespace tarvo {

namespace {

// Files larger than this are not read into memory: a drum hit is a few seconds at most, and
// this still leaves room for many minutes of multichannel high-resolution audio.
constexpr uint64_t maxFileBytes = uint64_t{256} << 20;
// Frames the compressed-format decoder delivers at most (about 25 minutes at 44.1 kHz);
// compressed files can expand a thousandfold, so their size alone does not bound this.
constexpr int64_t maxDecodedFrames = int64_t{1} << 26;
// Channel counts the importer takes from any format.
constexpr int maxChannels = 128;

constexpr const char* unknownTypeMessage = "Audio File Type: Error";
constexpr const char* invalidWavMessage = "ERROR: this doesn't seem to be a valid .WAV file";
constexpr const char* unsupportedWavFormatMessage =
    "ERROR: this .WAV file is encoded in a format that this library does not support at present";
constexpr const char* wavChannelsMessage =
    "ERROR: this WAV file seems to be an invalid number of channels (or corrupted?)";
constexpr const char* inconsistentWavMessage =
    "ERROR: the header data in this WAV file seems to be inconsistent";
constexpr const char* bitDepthMessage = "ERROR: this file has a bit depth that is not 8, 16, 24 or 32 bits";
constexpr const char* truncatedDataMessage =
    "ERROR: read file error as the metadata indicates more samples than there are in the file data";
constexpr const char* invalidAiffMessage = "ERROR: this doesn't seem to be a valid AIFF file";
constexpr const char* aiffRateMessage = "ERROR: this AIFF file has an unsupported sample rate";
constexpr const char* aiffChannelsMessage =
    "ERROR: this AIFF file seems to be neither mono nor stereo (perhaps multi-track, or corrupted?)";
constexpr const char* aiffMetadataMessage = "ERROR: the metadatafor this file doesn't seem right";
constexpr const char* unreadableMessage = "ERROR: the file is empty or cannot be read";
constexpr const char* tooLargeMessage = "ERROR: this file holds more audio than can be imported";

// WAV format tags.
constexpr uint16_t wavFormatPcm = 1;
constexpr uint16_t wavFormatFloat = 3;
constexpr uint16_t wavFormatExtensible = 65534;

std::string bitDepthTooLargeMessage(int bits) {
    return "ERROR: you are trying to read a " + std::to_string(bits) + "-bit file using a " + "32" +
           "-bit sample type";
}

// Byte access on the whole file. Fields that would reach past the end read as 0.
class ByteView {
public:
    explicit ByteView(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    uint64_t size() const { return bytes_.size(); }
    bool fits(uint64_t offset, uint64_t count) const {
        return offset <= bytes_.size() && count <= bytes_.size() - offset;
    }
    bool matches(uint64_t offset, const char* id) const {
        return fits(offset, 4) && std::memcmp(bytes_.data() + offset, id, 4) == 0;
    }
    uint32_t u32(uint64_t offset, bool bigEndian) const {
        if (!fits(offset, 4)) return 0;
        const uint8_t* p = bytes_.data() + offset;
        return bigEndian ? (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3]
                         : (uint32_t{p[3]} << 24) | (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
    }
    uint16_t u16(uint64_t offset, bool bigEndian) const {
        if (!fits(offset, 2)) return 0;
        const uint8_t* p = bytes_.data() + offset;
        return static_cast<uint16_t>(bigEndian ? (p[0] << 8) | p[1] : (p[1] << 8) | p[0]);
    }
    const uint8_t* at(uint64_t offset) const { return bytes_.data() + offset; }

    // Offset of the first chunk with the given identifier at or after byte 12, or -1. Each
    // step advances by at least 8 bytes, so the walk ends on any input.
    int64_t findChunk(const char* id, bool bigEndian) const {
        uint64_t offset = 12;
        while (fits(offset, 4)) {
            if (matches(offset, id)) return static_cast<int64_t>(offset);
            const uint64_t chunkSize = u32(offset + 4, bigEndian);
            const uint64_t next = offset + 8 + chunkSize + (chunkSize & 1);
            if (next > bytes_.size()) return -1;
            offset = next;
        }
        return -1;
    }

    // The chunk's contents as text, cut at the end of the file when its size claims more.
    std::string chunkText(int64_t chunk, bool bigEndian) const {
        const uint64_t start = static_cast<uint64_t>(chunk) + 8;
        if (start >= bytes_.size()) return {};
        const uint64_t count =
            std::min<uint64_t>(u32(static_cast<uint64_t>(chunk) + 4, bigEndian), bytes_.size() - start);
        return std::string(reinterpret_cast<const char*>(bytes_.data() + start), count);
    }

private:
    std::span<const uint8_t> bytes_;
};

// A float sample taken as stored; NaN and infinity become silence so that a damaged file
// cannot poison the analysis.
float finiteOrZero(float value) {
    return std::isfinite(value) ? value : 0.0f;
}

float floatFromBits(uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return finiteOrZero(value);
}

// Allocates the channel arrays, refusing sizes the file cannot hold (checked by callers).
bool allocateChannels(AudioFileData& data, int channels, uint64_t frames) {
    try {
        data.samples.assign(static_cast<size_t>(channels), std::vector<float>(static_cast<size_t>(frames)));
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool decodeWav(const ByteView& in, AudioFileData& data, std::string& message) {
    constexpr bool little = false;
    const int64_t dataChunk = in.findChunk("data", little);
    const int64_t fmtChunk = in.findChunk("fmt ", little);
    const int64_t ixmlChunk = in.findChunk("iXML", little);
    if (dataChunk < 0 || fmtChunk < 0 || !in.matches(0, "RIFF") || !in.matches(8, "WAVE")) {
        message = invalidWavMessage;
        return false;
    }
    const uint64_t fmt = static_cast<uint64_t>(fmtChunk);
    const uint16_t formatTag = in.u16(fmt + 8, little);
    const uint16_t channels = in.u16(fmt + 10, little);
    const uint32_t sampleRate = in.u32(fmt + 12, little);
    const uint32_t bytesPerSecond = in.u32(fmt + 16, little);
    const uint16_t blockAlign = in.u16(fmt + 20, little);
    const uint16_t bits = in.u16(fmt + 22, little);

    if (bits > 32) {
        message = bitDepthTooLargeMessage(bits);
        return false;
    }
    if (formatTag != wavFormatPcm && formatTag != wavFormatFloat && formatTag != wavFormatExtensible) {
        message = unsupportedWavFormatMessage;
        return false;
    }
    if (channels < 1 || channels > maxChannels) {
        message = wavChannelsMessage;
        return false;
    }
    const uint64_t bytesPerSample = bits / 8;
    if (uint64_t{bytesPerSecond} != uint64_t{sampleRate} * bits * channels / 8 ||
        uint64_t{blockAlign} != channels * bytesPerSample) {
        message = inconsistentWavMessage;
        return false;
    }
    if (bits != 8 && bits != 16 && bits != 24 && bits != 32) {
        message = bitDepthMessage;
        return false;
    }

    // An extensible header names its real encoding in the first two bytes of its sub-format
    // GUID; 32-bit float files written that way must not be read as integers.
    const bool isFloat = formatTag == wavFormatFloat ||
                         (formatTag == wavFormatExtensible && in.u16(fmt + 32, little) == wavFormatFloat);

    const uint64_t dataSize = in.u32(static_cast<uint64_t>(dataChunk) + 4, little);
    const uint64_t frames = dataSize / (channels * bytesPerSample);
    const uint64_t start = static_cast<uint64_t>(dataChunk) + 8;
    // Every sample's last byte must lie inside the file; checked for all of them at once,
    // before anything is allocated for the claimed length.
    if (frames > 0 && !in.fits(start, frames * blockAlign)) {
        message = truncatedDataMessage;
        return false;
    }
    if (!allocateChannels(data, channels, frames)) {
        message = tooLargeMessage;
        return false;
    }
    data.sampleRate = sampleRate;
    data.bitDepth = static_cast<int16_t>(bits);

    for (uint64_t frame = 0; frame < frames; ++frame) {
        for (int ch = 0; ch < channels; ++ch) {
            const uint8_t* p = in.at(start + frame * blockAlign + ch * bytesPerSample);
            float value = 0.0f;
            switch (bits) {
            case 8:
                value = static_cast<float>(static_cast<int>(p[0]) - 128) / 127.0f;
                break;
            case 16:
                value = static_cast<float>(static_cast<int16_t>(p[0] | (p[1] << 8))) / 32767.0f;
                break;
            case 24: {
                const int32_t raw = static_cast<int32_t>((uint32_t{p[2]} << 24) | (uint32_t{p[1]} << 16) |
                                                         (uint32_t{p[0]} << 8)) >>
                                    8;
                value = static_cast<float>(raw) / 8388607.0f;
                break;
            }
            default: {
                const uint32_t raw =
                    uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
                value =
                    isFloat ? floatFromBits(raw) : static_cast<float>(static_cast<int32_t>(raw)) * 0x1.0p-31f;
            }
            }
            data.samples[static_cast<size_t>(ch)][frame] = value;
        }
    }
    if (ixmlChunk >= 0) data.iXML = in.chunkText(ixmlChunk, little);
    return true;
}

// The 80-bit extended encoding of an integer rate: 16-bit sign and biased exponent, then a
// 64-bit mantissa with an explicit leading one, all big-endian.
std::array<uint8_t, 10> extendedEncoding(uint32_t rate) {
    int exponent = 31;
    while (((rate >> exponent) & 1u) == 0) --exponent;
    const uint16_t biased = static_cast<uint16_t>(16383 + exponent);
    const uint64_t mantissa = uint64_t{rate} << (63 - exponent);
    std::array<uint8_t, 10> bytes{};
    bytes[0] = static_cast<uint8_t>(biased >> 8);
    bytes[1] = static_cast<uint8_t>(biased & 0xff);
    for (int i = 0; i < 8; ++i) bytes[2 + i] = static_cast<uint8_t>(mantissa >> (56 - 8 * i));
    return bytes;
}

// The only AIFF rates accepted; anything else counts as unsupported.
constexpr std::array<uint32_t, 19> aiffRates = {8000,   11025,  16000,  22050,   32000,  37800, 44056,
                                                44100,  47250,  48000,  50000,   50400,  88200, 96000,
                                                176400, 192000, 352800, 2822400, 5644800};

uint32_t aiffSampleRate(const ByteView& in, uint64_t offset) {
    if (!in.fits(offset, 10)) return 0;
    for (uint32_t rate : aiffRates) {
        const std::array<uint8_t, 10> encoded = extendedEncoding(rate);
        if (std::memcmp(in.at(offset), encoded.data(), encoded.size()) == 0) return rate;
    }
    return 0;
}

bool decodeAiff(const ByteView& in, AudioFileData& data, std::string& message) {
    constexpr bool big = true;
    const bool isAifc = in.matches(8, "AIFC");
    const bool validKind = isAifc || in.matches(8, "AIFF");
    const int64_t commChunk = in.findChunk("COMM", big);
    const int64_t ssndChunk = in.findChunk("SSND", big);
    const int64_t ixmlChunk = in.findChunk("iXML", big);
    if (commChunk < 0 || ssndChunk < 0 || !in.matches(0, "FORM") || !validKind) {
        message = invalidAiffMessage;
        return false;
    }
    const uint64_t comm = static_cast<uint64_t>(commChunk);
    const int channels = static_cast<int16_t>(in.u16(comm + 8, big));
    const uint64_t frames = in.u32(comm + 10, big);
    const uint16_t bits = in.u16(comm + 14, big);
    const uint32_t sampleRate = aiffSampleRate(in, comm + 16);

    if (bits > 32) {
        message = bitDepthTooLargeMessage(bits);
        return false;
    }
    if (sampleRate == 0) {
        message = aiffRateMessage;
        return false;
    }
    if (channels != 1 && channels != 2) {
        message = aiffChannelsMessage;
        return false;
    }
    if (bits != 8 && bits != 16 && bits != 24 && bits != 32) {
        message = bitDepthMessage;
        return false;
    }

    const uint64_t ssnd = static_cast<uint64_t>(ssndChunk);
    const uint64_t ssndSize = in.u32(ssnd + 4, big);
    const uint64_t dataOffset = in.u32(ssnd + 8, big);
    const uint64_t start = ssnd + 16 + dataOffset;
    const uint64_t bytesPerSample = bits / 8;
    const uint64_t sampleBytes = frames * channels * bytesPerSample;
    if (ssndSize != sampleBytes + 8 || !in.fits(start, sampleBytes)) {
        message = aiffMetadataMessage;
        return false;
    }
    if (!allocateChannels(data, channels, frames)) {
        message = tooLargeMessage;
        return false;
    }
    data.sampleRate = sampleRate;
    data.bitDepth = static_cast<int16_t>(bits);

    for (uint64_t frame = 0; frame < frames; ++frame) {
        for (int ch = 0; ch < channels; ++ch) {
            const uint8_t* p = in.at(start + (frame * channels + ch) * bytesPerSample);
            float value = 0.0f;
            switch (bits) {
            case 8:
                value = static_cast<float>(static_cast<int8_t>(p[0])) / 127.0f;
                break;
            case 16:
                value = static_cast<float>(static_cast<int16_t>((p[0] << 8) | p[1])) / 32767.0f;
                break;
            case 24: {
                const int32_t raw = static_cast<int32_t>((uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) |
                                                         (uint32_t{p[2]} << 8)) >>
                                    8;
                value = static_cast<float>(raw) / 8388607.0f;
                break;
            }
            default: {
                const uint32_t raw =
                    (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
                value =
                    isAifc ? floatFromBits(raw) : static_cast<float>(static_cast<int32_t>(raw)) * 0x1.0p-31f;
            }
            }
            data.samples[static_cast<size_t>(ch)][frame] = value;
        }
    }
    if (ixmlChunk >= 0) data.iXML = in.chunkText(ixmlChunk, big);
    return true;
}

bool endsWith(const std::string& text, const char* suffix) {
    const size_t n = std::strlen(suffix);
    return text.size() >= n && text.compare(text.size() - n, n, suffix) == 0;
}

bool endsWithAny(const std::string& text, std::initializer_list<const char*> suffixes) {
    for (const char* suffix : suffixes)
        if (endsWith(text, suffix)) return true;
    return false;
}

// Extensions decoded by libsndfile rather than by the byte reader above.
bool isCompressedAudioPath(const std::string& path) {
    return endsWithAny(path, {".flac", ".FLAC", ".ogg", ".OGG", ".mp3", ".MP3"});
}

// libsndfile's reason as one line.
std::string oneLine(const char* text) {
    std::string line = text != nullptr ? text : "";
    for (char& c : line)
        if (c == '\n' || c == '\r') c = ' ';
    return line;
}

void mixToMono(const std::vector<std::vector<float>>& channels, std::vector<float>& mono) {
    const size_t frames = channels[0].size();
    if (channels.size() == 1) {
        mono = channels[0];
        return;
    }
    const float count = static_cast<float>(channels.size());
    mono.assign(frames, 0.0f);
    for (const std::vector<float>& channel : channels)
        for (size_t i = 0; i < frames; ++i) mono[i] += channel[i] / count;
}

// Decodes a compressed file with libsndfile, averaging to mono while reading so that the
// memory used is the mono result only.
bool decodeCompressed(const std::filesystem::path& file, MonoAudio& out) {
    SF_INFO info{};
    SNDFILE* sound = sf_open(file.string().c_str(), SFM_READ, &info);
    if (sound == nullptr) {
        out.message = "ERROR: this file could not be decoded: " + oneLine(sf_strerror(nullptr));
        return false;
    }
    bool ok = true;
    if (info.channels < 1 || info.channels > maxChannels || info.samplerate <= 0) {
        out.message = "ERROR: this file has an invalid number of channels or sample rate";
        ok = false;
    }
    constexpr sf_count_t chunkFrames = 4096;
    try {
        std::vector<float> chunk(ok ? static_cast<size_t>(chunkFrames * info.channels) : 0);
        const float count = static_cast<float>(info.channels);
        while (ok) {
            const sf_count_t got = sf_readf_float(sound, chunk.data(), chunkFrames);
            if (got <= 0) break;
            if (static_cast<int64_t>(out.samples.size()) + got > maxDecodedFrames) {
                out.message = tooLargeMessage;
                ok = false;
                break;
            }
            for (sf_count_t i = 0; i < got; ++i) {
                float sum = 0.0f;
                for (int ch = 0; ch < info.channels; ++ch)
                    sum += finiteOrZero(chunk[static_cast<size_t>(i * info.channels + ch)]) / count;
                out.samples.push_back(sum);
            }
        }
        if (ok && sf_error(sound) != SF_ERR_NO_ERROR) {
            out.message = "ERROR: this file could not be decoded: " + oneLine(sf_strerror(sound));
            ok = false;
        }
    } catch (const std::bad_alloc&) {
        out.message = tooLargeMessage;
        ok = false;
    }
    sf_close(sound);
    if (!ok) return false;
    out.sampleRate = info.samplerate;
    out.channelCount = info.channels;
    return true;
}

bool readWholeFile(const std::filesystem::path& file, std::vector<uint8_t>& bytes, std::string& message) {
    std::error_code error;
    const uint64_t size = std::filesystem::file_size(file, error);
    if (error || size == 0) {
        message = unreadableMessage;
        return false;
    }
    if (size > maxFileBytes) {
        message = tooLargeMessage;
        return false;
    }
    std::ifstream stream(file, std::ios::binary);
    if (!stream) {
        message = unreadableMessage;
        return false;
    }
    bytes.resize(static_cast<size_t>(size));
    stream.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
    if (static_cast<uint64_t>(stream.gcount()) != size) {
        message = unreadableMessage;
        return false;
    }
    return true;
}

MonoAudio refuse(MonoAudio out, AudioMessages messages, bool print) {
    out.samples.clear();
    out.sampleRate = -1.0;
    out.channelCount = 0;
    if (print && messages == AudioMessages::PrintToStdout) std::printf("%s\n", out.message.c_str());
    return out;
}

} // namespace

bool decodeAudioBytes(std::span<const uint8_t> bytes, AudioFileData& data, std::string& message) {
    const ByteView in(bytes);
    if (in.matches(0, "RIFF")) return decodeWav(in, data, message);
    if (in.matches(0, "FORM")) return decodeAiff(in, data, message);
    message = unknownTypeMessage;
    return false;
}

MonoAudio loadAudioFile(const std::filesystem::path& file, AudioMessages messages) {
    MonoAudio out;
    try {
        if (isCompressedAudioPath(file.string())) {
            if (!decodeCompressed(file, out)) return refuse(std::move(out), messages, true);
            return out;
        }
        std::vector<uint8_t> bytes;
        // An empty or unreadable file is refused without a printed message.
        if (!readWholeFile(file, bytes, out.message)) return refuse(std::move(out), messages, false);
        AudioFileData data;
        if (!decodeAudioBytes(bytes, data, out.message)) return refuse(std::move(out), messages, true);
        bytes = {};
        mixToMono(data.samples, out.samples);
        out.sampleRate = data.sampleRate;
        out.channelCount = data.channelCount();
    } catch (const std::bad_alloc&) {
        out.message = tooLargeMessage;
        return refuse(std::move(out), messages, true);
    }
    return out;
}

bool isImportableAudioPath(const std::string& path) {
    return endsWithAny(path, {".wav", ".WAV", ".aif", ".AIF", ".aiff", ".AIFF"}) ||
           isCompressedAudioPath(path);
}

} // namespace tarvo
