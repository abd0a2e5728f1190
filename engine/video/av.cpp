#include "video/av.h"

#include "base/die.h"

#include <mutex>

std::string avError(int rc) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(rc, buf, sizeof buf);
    return buf;
}

int avCheck(int rc, const std::string& what) {
    if (rc < 0) die(what + ": " + avError(rc));
    return rc;
}

FramePtr newAVFrame() {
    FramePtr f(av_frame_alloc());
    if (!f) die("av_frame_alloc: out of memory");
    return f;
}

FramePtr newPicture(int w, int h, AVPixelFormat format) {
    FramePtr f = newAVFrame();
    f->format = format;
    f->width = w;
    f->height = h;
    avCheck(av_frame_get_buffer(f.get(), 64), "av_frame_get_buffer");
    return f;
}

PacketPtr newAVPacket() {
    PacketPtr p(av_packet_alloc());
    if (!p) die("av_packet_alloc: out of memory");
    return p;
}

void quietAV() { av_log_set_level(AV_LOG_QUIET); }

const char* const recordingFormats = "mov,mp4,m4a,3gp,3g2,mj2,matroska,webm,mpegts,avi,flv,mpeg,mxf,ivf,h264,hevc";
const char* const soundFormats =
    "mov,mp4,m4a,3gp,3g2,mj2,matroska,webm,mpegts,avi,flv,mpeg,mp3,aac,wav,w64,flac,ogg,caf,aiff,amr,ac3,eac3";

InputPtr openLocalInput(const std::string& path, const char* formats) {
    AVDictionary* opts = nullptr;
    av_dict_set(&opts, "format_whitelist", formats, 0);
    av_dict_set(&opts, "protocol_whitelist", "file", 0);
    AVFormatContext* raw = nullptr;
    const int rc = avformat_open_input(&raw, path.c_str(), nullptr, &opts);
    av_dict_free(&opts);
    if (rc < 0) return nullptr;
    return InputPtr(raw);
}
