#pragma once
#include <cstddef>
#include <map>
#include <string>
#include <vector>

// The parsed look file. Values stay text until a number is asked for, so a key that
// nothing reads may hold anything; every reader ends the process on a missing key.
class Look {
public:
    Look() = default;
    // Parses file text; never fails (lines it cannot use are ignored).
    static Look parse(const std::string& text);
    // Locates (TREVALO_LOOK, else beside the program as started, else beside it or in the
    // installed share/trevalo folder as it really lies) and reads the file, or dies.
    static Look locate(const char* argv0);
    static std::string pathFor(const char* argv0);
    // The same for a program whose resolved path is realProgram (empty when unknown).
    static std::string pathFor(const char* argv0, const std::string& realProgram);

    double num(const std::string& key) const;
    std::vector<double> nums(const std::string& key, int n) const;
    const std::string& str(const std::string& key) const;
    bool has(const std::string& key) const { return m_kv.count(key) != 0; }

private:
    std::map<std::string, std::string> m_kv;
};

// Engine-wide look values, read once at start-up in this order.
struct LookValues {
    double screenRadiusFrac = 0;
    double bezelFrac = 0;
    double frameReference = 0;
    double fillVertical = 0;
    double fillHorizontal = 0;
    double maxWidthFrac = 0;
    double glowCenterY = 0;
    double glowRadius = 0;
    std::vector<double> shadowAmbient;
    std::vector<double> shadowContact;
    std::vector<double> spinTiming;
    std::vector<double> spinEase;
    double spinHandoff = 0;
    double spinThick = 0;
    double spinEdge = 0;
    double spinCamera = 0;
    std::vector<double> spinLight;
    double spinLensTint = 0;
    std::vector<double> spinAO;

    static LookValues read(const Look& look);
};

// The process-wide look and its start-up values. Written by start-up (and by tests),
// read freely afterwards from any thread.
const Look& look();
const LookValues& lv();
void installLook(Look l);

// The look file is read whole at every start; the bound keeps a wrong path (a log, a
// disk image) from filling memory: "look.conf too large: " + path.
inline constexpr size_t maxLookBytes = size_t(1) << 20;

// Splits at line feeds the way the file format wants: a CR LF pair is one character
// and not a line end. Exposed for tests.
std::vector<std::string> lookLines(const std::string& text);
std::string trimSpaces(const std::string& s);
// Whether the text is well-formed UTF-8.
bool validUtf8(const std::string& s);

// Frame rate of turning clips, and the factor that turns a shadow blur value into
// a Gaussian standard deviation.
inline constexpr int spinFPS = 60;
inline constexpr double cgSigma = 0.468;
inline double spinSeconds() { return lv().spinTiming[0] + lv().spinTiming[1] + lv().spinTiming[2]; }
