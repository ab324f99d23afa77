#include "platform/linux/FFmpegMovieWriter.h"

#include "platform/linux/X11Grabber.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}
#include <png.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <system_error>

namespace vanto {
namespace {

std::string describe(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

[[noreturn]] void fail(const std::string& what, int code) {
    throw CaptureError(capturefailure::encoderFailed(what + " (" + describe(code) + ")"));
}

void check(int code, const char* what) {
    if (code < 0) fail(what, code);
}

struct CodecContextFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct ScaleFree {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};
// An output file: its I/O closed, then the context freed.
struct OutputFree {
    void operator()(AVFormatContext* f) const {
        if (f->pb) avio_closep(&f->pb);
        avformat_free_context(f);
    }
};
struct InputFree {
    void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};

using CodecContext = std::unique_ptr<AVCodecContext, CodecContextFree>;
using Frame = std::unique_ptr<AVFrame, FrameFree>;
using Packet = std::unique_ptr<AVPacket, PacketFree>;
using Scale = std::unique_ptr<SwsContext, ScaleFree>;
using Output = std::unique_ptr<AVFormatContext, OutputFree>;
using Input = std::unique_ptr<AVFormatContext, InputFree>;

Output openOutput(const std::filesystem::path& path) {
    AVFormatContext* raw = nullptr;
    check(avformat_alloc_output_context2(&raw, nullptr, "mov", path.c_str()), "cannot make a QuickTime movie");
    Output output(raw);
    check(avio_open(&output->pb, path.c_str(), AVIO_FLAG_WRITE), "cannot open the movie file");
    return output;
}

constexpr unsigned hvc1 = MKTAG('h', 'v', 'c', '1');

// A movie's length from its header, in whole milliseconds; none when it cannot be read.
std::optional<std::int64_t> movieLengthMs(const std::filesystem::path& movie) {
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, movie.c_str(), nullptr, nullptr) < 0) return std::nullopt;
    Input input(raw);
    if (avformat_find_stream_info(input.get(), nullptr) < 0 || input->duration <= 0) return std::nullopt;
    return input->duration * 1000 / AV_TIME_BASE;
}

} // namespace

struct FFmpegMovieWriter::State {
    std::mutex mutex; // the path, which moveTo changes while the movie is written
    std::filesystem::path path;
    VideoCodec codec;
    Output output;
    CodecContext encoder;
    AVStream* stream = nullptr;
    Frame frame;
    Packet packet;
    Scale scale;
    int sourceWidth = 0, sourceHeight = 0;
    bool finished = false;
    std::optional<std::int64_t> lengthMs;

    void drain() {
        while (true) {
            int code = avcodec_receive_packet(encoder.get(), packet.get());
            if (code == AVERROR(EAGAIN) || code == AVERROR_EOF) return;
            check(code, "the encoder failed");
            if (packet->duration == 0) packet->duration = 1; // one frame slot
            av_packet_rescale_ts(packet.get(), encoder->time_base, stream->time_base);
            packet->stream_index = stream->index;
            check(av_interleaved_write_frame(output.get(), packet.get()), "cannot write to the movie");
        }
    }
};

FFmpegMovieWriter::FFmpegMovieWriter(const std::filesystem::path& path, VideoCodec codec, int width, int height,
                                     int fps)
    : state_(std::make_unique<State>()) {
    // Failures reach the person through the stop warning; FFmpeg's own chatter would
    // only clutter the control protocol's standard error.
    av_log_set_level(AV_LOG_ERROR);
    State& s = *state_;
    s.path = path;
    s.codec = codec;
    const bool hevc = codec == VideoCodec::hevc;
    const AVCodec* encoder = avcodec_find_encoder_by_name(hevc ? "libx265" : "libx264");
    if (!encoder) throw CaptureError(capturefailure::encoderFailed(hevc ? "no HEVC encoder" : "no H.264 encoder"));

    s.output = openOutput(path);
    s.encoder.reset(avcodec_alloc_context3(encoder));
    if (!s.encoder) throw CaptureError(capturefailure::encoderFailed("out of memory"));
    AVCodecContext& c = *s.encoder;
    c.width = width;
    c.height = height;
    c.pix_fmt = AV_PIX_FMT_YUV420P; // what every player takes; 4:4:4 would not play in QuickTime
    c.time_base = AVRational{1, fps};
    c.framerate = AVRational{fps, 1};
    c.gop_size = 2 * fps;
    if (s.output->oformat->flags & AVFMT_GLOBALHEADER) c.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    // H.264 veryfast keeps up on two cores; HEVC only does at ultrafast.
    av_opt_set(c.priv_data, "preset", hevc ? "ultrafast" : "veryfast", 0);
    av_opt_set(c.priv_data, "crf", hevc ? "28" : "23", 0);
    if (hevc) av_opt_set(c.priv_data, "x265-params", "log-level=error", 0);
    check(avcodec_open2(&c, encoder, nullptr), "cannot open the encoder");

    s.stream = avformat_new_stream(s.output.get(), nullptr);
    if (!s.stream) throw CaptureError(capturefailure::encoderFailed("cannot add a video track"));
    s.stream->time_base = c.time_base;
    check(avcodec_parameters_from_context(s.stream->codecpar, &c), "cannot describe the video track");
    if (hevc) s.stream->codecpar->codec_tag = hvc1; // Apple's players take hvc1, not hev1

    AVDictionary* options = nullptr;
    // Fragments a quarter of a second long: a killed recording loses at most that
    // much, plus what the encoder still held.
    av_dict_set(&options, "movflags", "empty_moov+frag_keyframe+default_base_moof", 0);
    av_dict_set(&options, "frag_duration", "250000", 0);
    av_dict_set(&options, "flush_packets", "1", 0);
    const int code = avformat_write_header(s.output.get(), &options);
    av_dict_free(&options);
    check(code, "cannot start the movie");

    s.frame.reset(av_frame_alloc());
    s.packet.reset(av_packet_alloc());
    if (!s.frame || !s.packet) throw CaptureError(capturefailure::encoderFailed("out of memory"));
    s.frame->format = c.pix_fmt;
    s.frame->width = width;
    s.frame->height = height;
    check(av_frame_get_buffer(s.frame.get(), 0), "out of memory");
}

FFmpegMovieWriter::~FFmpegMovieWriter() {
    try {
        finish();
    } catch (const std::exception&) {
        // The fragmented movie stays on disk and plays; nobody is left to tell.
    }
}

void FFmpegMovieWriter::write(const CapturedImage& picture, std::int64_t pts) {
    State& s = *state_;
    if (s.finished) return;
    if (!s.scale || picture.width != s.sourceWidth || picture.height != s.sourceHeight) {
        s.scale.reset(sws_getContext(picture.width, picture.height, AV_PIX_FMT_BGR0, s.encoder->width,
                                     s.encoder->height, AV_PIX_FMT_YUV420P, SWS_FAST_BILINEAR, nullptr, nullptr,
                                     nullptr));
        if (!s.scale) throw CaptureError(capturefailure::encoderFailed("cannot convert the picture"));
        s.sourceWidth = picture.width;
        s.sourceHeight = picture.height;
    }
    check(av_frame_make_writable(s.frame.get()), "out of memory");
    const std::uint8_t* source[1] = {picture.bgra.data()};
    const int stride[1] = {picture.width * 4};
    sws_scale(s.scale.get(), source, stride, 0, picture.height, s.frame->data, s.frame->linesize);
    s.frame->pts = pts;
    check(avcodec_send_frame(s.encoder.get(), s.frame.get()), "the encoder refused a frame");
    s.drain();
}

void FFmpegMovieWriter::finish() {
    State& s = *state_;
    std::lock_guard lock(s.mutex);
    if (s.finished) return;
    s.finished = true;
    check(avcodec_send_frame(s.encoder.get(), nullptr), "the encoder could not finish");
    s.drain();
    check(av_write_trailer(s.output.get()), "cannot finish the movie");
    s.output.reset();
    // The writer may be kept for its path; the encoder's memory is not needed any more.
    s.encoder.reset();
    s.scale.reset();
    s.frame.reset();

    // The normal movie is made beside the fragmented one and replaces it only when
    // complete; if that fails the fragmented movie stays and still plays.
    auto finalised = s.path;
    finalised += ".final.mov";
    try {
        remuxMovie(s.path, finalised);
        std::filesystem::rename(finalised, s.path);
    } catch (...) {
        std::error_code ignored;
        std::filesystem::remove(finalised, ignored);
        throw;
    }
    s.lengthMs = movieLengthMs(s.path);
}

std::optional<std::int64_t> FFmpegMovieWriter::lengthMs() const {
    std::lock_guard lock(state_->mutex);
    return state_->lengthMs;
}

void FFmpegMovieWriter::moveTo(const std::filesystem::path& to) {
    State& s = *state_;
    std::lock_guard lock(s.mutex);
    std::error_code error;
    std::filesystem::rename(s.path, to, error);
    if (error)
        throw CaptureError(
            capturefailure::encoderFailed("cannot move the movie to " + to.string() + " (" + error.message() + ")"));
    s.path = to;
}

void remuxMovie(const std::filesystem::path& from, const std::filesystem::path& to) {
    AVFormatContext* raw = nullptr;
    check(avformat_open_input(&raw, from.c_str(), nullptr, nullptr), "cannot read the movie back");
    Input input(raw);
    check(avformat_find_stream_info(input.get(), nullptr), "cannot read the movie back");
    Output output = openOutput(to);
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        AVStream* in = input->streams[i];
        AVStream* out = avformat_new_stream(output.get(), nullptr);
        if (!out) throw CaptureError(capturefailure::encoderFailed("cannot add a video track"));
        check(avcodec_parameters_copy(out->codecpar, in->codecpar), "cannot copy the video track");
        out->codecpar->codec_tag = in->codecpar->codec_id == AV_CODEC_ID_HEVC ? hvc1 : 0;
        out->time_base = in->time_base;
    }
    check(avformat_write_header(output.get(), nullptr), "cannot start the movie");
    Packet packet(av_packet_alloc());
    if (!packet) throw CaptureError(capturefailure::encoderFailed("out of memory"));
    while (av_read_frame(input.get(), packet.get()) >= 0) {
        AVStream* in = input->streams[packet->stream_index];
        AVStream* out = output->streams[packet->stream_index];
        av_packet_rescale_ts(packet.get(), in->time_base, out->time_base);
        packet->pos = -1;
        const int code = av_interleaved_write_frame(output.get(), packet.get());
        av_packet_unref(packet.get());
        check(code, "cannot write to the movie");
    }
    check(av_write_trailer(output.get()), "cannot finish the movie");
}

namespace {

// Fingerprint-sized pictures: each pixel the mean of a few samples of its cell, which
// costs a fraction of a general scaler's pass over the whole picture.
CapturedImage sampledPicture(const CapturedImage& picture, int width, int height) {
    constexpr int samples = 6;
    CapturedImage small{
        width, height,
        std::vector<std::uint8_t>(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4)};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            unsigned sum[3] = {0, 0, 0};
            for (int sy = 0; sy < samples; ++sy)
                for (int sx = 0; sx < samples; ++sx) {
                    const long px = (static_cast<long>(x) * samples + sx) * picture.width / (width * samples);
                    const long py = (static_cast<long>(y) * samples + sy) * picture.height / (height * samples);
                    const auto* p = &picture.bgra[static_cast<std::size_t>((py * picture.width + px) * 4)];
                    for (int c = 0; c < 3; ++c) sum[c] += p[c];
                }
            auto* out = &small.bgra[static_cast<std::size_t>((y * width + x) * 4)];
            for (int c = 0; c < 3; ++c) out[c] = static_cast<std::uint8_t>(sum[c] / (samples * samples));
            out[3] = 255;
        }
    return small;
}

} // namespace

CapturedImage scaledPicture(const CapturedImage& picture, int width, int height) {
    if (picture.width == width && picture.height == height) return picture;
    if (picture.width <= 0 || picture.height <= 0 || width <= 0 || height <= 0)
        return {width, height,
                std::vector<std::uint8_t>(static_cast<std::size_t>(std::max(width, 0)) *
                                          static_cast<std::size_t>(std::max(height, 0)) * 4)};
    if (width <= 64 && height <= 64 && picture.width >= width && picture.height >= height)
        return sampledPicture(picture, width, height);
    CapturedImage scaled{
        width, height,
        std::vector<std::uint8_t>(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4)};
    // Setting up a scaler costs more than scaling a fingerprint, so each thread keeps
    // its last one for pictures of the same sizes.
    thread_local Scale scale;
    SwsContext* reused = sws_getCachedContext(scale.release(), picture.width, picture.height, AV_PIX_FMT_BGR0, width,
                                              height, AV_PIX_FMT_BGR0, SWS_AREA, nullptr, nullptr, nullptr);
    scale.reset(reused);
    if (!scale) throw CaptureError(capturefailure::grabFailed("cannot scale the picture"));
    const std::uint8_t* source[1] = {picture.bgra.data()};
    const int sourceStride[1] = {picture.width * 4};
    std::uint8_t* target[1] = {scaled.bgra.data()};
    const int targetStride[1] = {width * 4};
    sws_scale(scale.get(), source, sourceStride, 0, picture.height, target, targetStride);
    return scaled;
}

namespace {

struct PngWrite {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~PngWrite() { png_destroy_write_struct(&png, info ? &info : nullptr); }
};

void appendBytes(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

void noFlush(png_structp) {}

} // namespace

std::optional<std::vector<std::uint8_t>> pngBytes(const CapturedImage& picture, int compressionLevel) {
    if (picture.width <= 0 || picture.height <= 0) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint8_t> row(static_cast<std::size_t>(picture.width) * 3);
    PngWrite write;
    write.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!write.png) return std::nullopt;
    write.info = png_create_info_struct(write.png);
    if (!write.info) return std::nullopt;
    // libpng reports errors by longjmp; nothing with a destructor is made below it.
    if (setjmp(png_jmpbuf(write.png))) return std::nullopt;
    png_set_write_fn(write.png, &bytes, appendBytes, noFlush);
    png_set_compression_level(write.png, compressionLevel);
    png_set_IHDR(write.png, write.info, static_cast<png_uint_32>(picture.width),
                 static_cast<png_uint_32>(picture.height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(write.png, write.info);
    for (int y = 0; y < picture.height; ++y) {
        const auto* p = picture.bgra.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(picture.width) * 4;
        for (int x = 0; x < picture.width; ++x) {
            row[static_cast<std::size_t>(x) * 3] = p[x * 4 + 2];
            row[static_cast<std::size_t>(x) * 3 + 1] = p[x * 4 + 1];
            row[static_cast<std::size_t>(x) * 3 + 2] = p[x * 4];
        }
        png_write_row(write.png, row.data());
    }
    png_write_end(write.png, nullptr);
    return bytes;
}

} // namespace vanto
