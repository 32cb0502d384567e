#pragma once
// Reading audio files for the importer. WAV and AIFF are parsed by our own reader from the
// file's bytes: integer PCM of 8, 16, 24 and 32 bits and 32-bit float, nothing else. FLAC,
// Ogg Vorbis and MP3 are decoded by libsndfile. Every failure produces one line of text
// saying what was wrong; nothing throws.
//
// Everything here runs on the user-interface thread (or a tool) and allocates freely, but
// never more than the file's real contents justify: headers that claim more samples than the
// file holds are refused before anything is allocated for them.

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace tarvo {

// A decoded file: one array per channel, all of the same length.
struct AudioFileData {
    std::vector<std::vector<float>> samples = std::vector<std::vector<float>>(1);
    uint32_t sampleRate = 44100;
    int16_t bitDepth = 16;
    // The contents of an "iXML" chunk, when the file has one; kept, not interpreted.
    std::string iXML;

    int channelCount() const { return static_cast<int>(samples.size()); }
    size_t frameCount() const { return samples.empty() ? 0 : samples[0].size(); }
};

// Decodes a whole WAV ("RIFF") or AIFF ("FORM") file held in bytes into data. On failure
// returns false and sets message to the one-line reason; data is then unspecified.
bool decodeAudioBytes(std::span<const uint8_t> bytes, AudioFileData& data, std::string& message);

// A file mixed down to mono.
struct MonoAudio {
    std::vector<float> samples;
    // In Hz; -1 when the file could not be read or decoded.
    double sampleRate = -1.0;
    // Channels in the file before the mix-down; 0 when not decoded.
    int channelCount = 0;
    // Why the file was refused; empty on success.
    std::string message;

    bool ok() const { return sampleRate >= 0.0; }
};

// Where a refusal's message goes besides MonoAudio::message.
enum class AudioMessages {
    PrintToStdout, // one line on standard output, as the importer reports it
    Silent,        // only in the result (the tool, which keeps standard output for JSON)
};

// Reads and decodes a file and averages its channels to mono. An empty or unreadable file
// gives no samples and sample rate -1; so does a file that fails to decode, with its reason.
MonoAudio loadAudioFile(const std::filesystem::path& file,
                        AudioMessages messages = AudioMessages::PrintToStdout);

// True when the path ends with an extension the importer accepts: .wav .aif .aiff .flac
// .ogg .mp3, each all lower case or all upper case.
bool isImportableAudioPath(const std::string& path);

} // namespace tarvo
