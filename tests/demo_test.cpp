// The demo as its users see it: the real program, run in a folder of its own,
// headless or on a virtual X server, judged by what it prints, how long it
// lives, what it plays and what it shows.
#include "files.h"
#include "subprocess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <sys/stat.h>
#include <thread>

// Last: Xlib defines words such as None and Bool as macros.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>

using namespace std::chrono_literals;
using Seconds = std::chrono::duration<double>;

namespace {

const std::string Demo = (BuildDir / "bumpwave").string();
const std::string Banner = "bumpwave 1.0: three lights, a plasma and a grid of dots";

// Under the sanitizers the demo starts slower and draws far fewer frames.
#if defined(__SANITIZE_ADDRESS__)
constexpr double StartUp = 3, MinRate = 5;
#else
constexpr double StartUp = 1, MinRate = 64;
#endif
constexpr Seconds FullRunLimit = 120s;

// The frame rate of output that is exactly the frame-rate line, or -1.
double RateOf(const std::string& out) {
    const std::string head = "\n640 * 480 * 32 @ ", tail = " FPS\n";
    if (out.size() <= head.size() + tail.size() || !out.starts_with(head) || !out.ends_with(tail))
        return -1;
    const std::string number = out.substr(head.size(), out.size() - head.size() - tail.size());
    char* end = nullptr;
    double rate = std::strtod(number.c_str(), &end);
    bool whole =
        *end == 0 && number.find_first_of(" \n") == std::string::npos && std::isfinite(rate);
    return whole ? rate : -1;
}

class DemoRun : public testing::Test {
  protected:
    void SetUp() override { dir_ = NewFolder(); }
    void TearDown() override {
        if (!dir_.empty()) fs::remove_all(dir_);
    }

    void Provide(std::initializer_list<const char*> names) {
        for (const char* name : names) fs::create_symlink(BuildDir / name, dir_ / name);
    }

    // Headless, with the sound card writing what it plays into `audio`.
    std::vector<std::string> Headless(const char* audioDriver = "disk") const {
        return {"SDL_VIDEODRIVER=offscreen", std::string("SDL_AUDIODRIVER=") + audioDriver,
                "SDL_DISKAUDIOFILE=" + audio().string()};
    }
    fs::path audio() const { return dir_ / "played.raw"; }

    RunResult Run(std::vector<std::string> args, const std::vector<std::string>& env,
                  Seconds limit) {
        args.insert(args.begin(), Demo);
        return RunProgram(args, dir_.string(), env, limit);
    }

    fs::path dir_;
};

TEST_F(DemoRun, PlaysTheWholeMusicThenEnds) {
    Provide({"bumpmap.png", "boys.jpg", "testing.ogg"});
    // Its stdout is a pipe nobody reads: the frame-rate line fails, the run goes on.
    RunResult run = RunProgram({"bash", "-c", "\"$0\" | true; exit ${PIPESTATUS[0]}", Demo},
                               dir_.string(), Headless(), FullRunLimit);
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0) << run.err;

    const std::string music = DecodeOgg(BuildDir / "testing.ogg");
    const double musicSeconds = music.size() / (44100.0 * 4);
    ASSERT_GT(musicSeconds, 41);
    // The music outlasts the visuals; the pause comes after it.
    EXPECT_GE(run.seconds, musicSeconds + 1);
    EXPECT_LT(run.seconds, musicSeconds + 5 + StartUp);

    EXPECT_TRUE(PlayedOnce(Slurp(audio()), music));
}

TEST_F(DemoRun, EndsWithTheVisualsWhenTheMusicIsAFifo) {
    Provide({"bumpmap.png", "boys.jpg"});
    ASSERT_EQ(mkfifo((dir_ / "testing.ogg").c_str(), 0600), 0); // with no writer
    RunResult run = Run({"WINDOW"}, Headless(), FullRunLimit);
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const std::string missing = "Couldn't open testing.ogg\n";
    std::string rest = run.out;
    if (auto at = rest.find(missing); at != std::string::npos) rest.erase(at, missing.size());
    EXPECT_NE(rest, run.out) << "stdout: " << run.out;
    double rate = RateOf(rest);
    EXPECT_GT(rate, MinRate) << "stdout: " << run.out;
    std::printf("window, offscreen: %g frames a second\n", rate);
    EXPECT_GE(run.seconds, 42);
    EXPECT_LT(run.seconds, 44 + StartUp);
    EXPECT_TRUE(Silent(Slurp(audio())));
}

TEST_F(DemoRun, RunsWithoutSoundCard) {
    Provide({"bumpmap.png", "boys.jpg", "testing.ogg"});
    RunResult run = Run({"w"}, Headless("nosuchdriver"), FullRunLimit);
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_GT(RateOf(run.out), MinRate) << "stdout: " << run.out;
    EXPECT_TRUE(run.err.starts_with("bumpwave: no sound") ||
                run.err.find("\nbumpwave: no sound") != std::string::npos)
        << "stderr: " << run.err;
    // The music thread gives up at once: nothing to wait for after the visuals.
    EXPECT_GE(run.seconds, 42);
    EXPECT_LT(run.seconds, 44 + StartUp);
}

// Each ends at start-up, with one message and exit status 1. An argument
// the demo does not take runs it as none: it stops where it reads the bump map.
TEST_F(DemoRun, ARunThatCannotShowItsVisualsSaysWhyAndFails) {
    const std::vector<std::string> noDisplay = {"DISPLAY", "WAYLAND_DISPLAY", "SDL_VIDEODRIVER",
                                                "SDL_AUDIODRIVER=dummy"};
    const struct {
        std::vector<std::string> args;
        std::vector<const char*> files;
        bool headless;
        std::string out, err;
    } cases[] = {
        {{}, {"bumpmap.png", "boys.jpg", "testing.ogg"}, false, "", "bumpwave: no display"},
        // only the first missing picture is tried
        {{}, {"testing.ogg"}, true, "Couldn't load bumpmap.png\n", ""},
        {{}, {"bumpmap.png", "testing.ogg"}, true, "Couldn't load boys.jpg\n", ""},
        {{"--frobnicate", "-help"}, {"boys.jpg"}, true, "Couldn't load bumpmap.png\n", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.out + c.err + (c.args.empty() ? "" : c.args[0]));
        fs::remove_all(dir_);
        fs::create_directory(dir_);
        for (const char* name : c.files) Provide({name});
        RunResult run = Run(c.args, c.headless ? Headless() : noDisplay, 20s);
        EXPECT_EQ(run.exitCode, 1) << run.err;
        EXPECT_EQ(run.out, c.out);
        EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
        EXPECT_GE(run.seconds, 1) << "no pause at the end";
        EXPECT_LT(run.seconds, 3 + StartUp);
        EXPECT_TRUE(Silent(Slurp(audio())));
    }
}

TEST_F(DemoRun, AnswersHelpAndVersionWithoutOpeningAnything) {
    const std::vector<std::string> nothing = {"DISPLAY", "SDL_VIDEODRIVER=nosuchdriver",
                                              "SDL_AUDIODRIVER=nosuchdriver"};
    for (const char* ask : {"--help", "-h", "?"}) {
        SCOPED_TRACE(ask);
        RunResult run = Run({ask}, nothing, 20s);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_TRUE(run.out.starts_with("usage: bumpwave [PACED] [WINDOW]\n")) << run.out;
        EXPECT_NE(run.out.find("WINDOW=W/S/K"), std::string::npos) << run.out;
        EXPECT_EQ(run.err, "");
        EXPECT_LT(run.seconds, 1) << "it paused as if it had run";
    }
    RunResult run = Run({"--version"}, nothing, 20s);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "bumpwave 1.0 (07.12.2026)\n");
    EXPECT_EQ(run.err, "");

    const std::string binary = Slurp(Demo);
    EXPECT_NE(binary.find(std::string("$VER: bumpwave 1.0 (07.12.2026)", 32)), std::string::npos);
}

// ---------------------------------------------------------------------------
// On a virtual X server of 1024 × 768 with openbox as window manager.

int IgnoreXErrors(Display*, XErrorEvent*) {
    return 0; // windows come and go while we look
}

struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
    bool operator==(const Rect&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Rect& r) {
    return out << r.width << "x" << r.height << "+" << r.x << "+" << r.y;
}

// Shares of pixels that are black and that are strongly coloured.
struct Colours {
    double black = 0, coloured = 0;
    bool Lights() const { return black > 0.9 && coloured > 0.001; }
    bool Plasma() const { return black < 0.01 && coloured > 0.3; }
};

class UnderX : public DemoRun {
  protected:
    static constexpr int ScreenWidth = 1024, ScreenHeight = 768;

    void SetUp() override {
        const std::string size =
            std::to_string(ScreenWidth) + "x" + std::to_string(ScreenHeight) + "x24";
        if (std::system("command -v Xvfb >/dev/null && command -v openbox >/dev/null") != 0)
            GTEST_SKIP() << "needs Xvfb and openbox";
        DemoRun::SetUp();
        Provide({"bumpmap.png", "boys.jpg", "testing.ogg"});
        server_ = std::make_unique<Process>(std::vector<std::string>{"Xvfb", "-displayfd", "1",
                                                                     "-nolisten", "tcp", "-screen",
                                                                     "0", size},
                                            dir_.string());
        auto numbered = [](const RunResult& r) { return r.out.find('\n') != std::string::npos; };
        ASSERT_TRUE(server_->ReadUntil(numbered, 20s)) << server_->result().err;
        name_ = ":" + server_->result().out.substr(0, server_->result().out.find('\n'));
        display_ = XOpenDisplay(name_.c_str());
        ASSERT_NE(display_, nullptr);
        int event, error;
        ASSERT_TRUE(XFixesQueryExtension(display_, &event, &error)); // to see the pointer
        XSetErrorHandler(IgnoreXErrors);
        root_ = DefaultRootWindow(display_);
        wm_ = std::make_unique<Process>(
            std::vector<std::string>{"openbox", "--sm-disable", "--startup", "echo ready"},
            dir_.string(), std::vector<std::string>{"DISPLAY=" + name_});
        // Windows mapped before it has fully started can be left unmanaged.
        auto ready = [](const RunResult& r) { return r.out.find("ready") != std::string::npos; };
        ASSERT_TRUE(wm_->ReadUntil(ready, 20s)) << wm_->result().err;
    }

    void TearDown() override {
        if (demo_) demo_->Kill();
        if (wm_) wm_->Stop();
        if (display_) XCloseDisplay(display_);
        if (server_) server_->Stop(); // lets it remove its lock file and socket
        if (HasFailure() && demo_) std::printf("the demo said:\n%s\n", demo_->result().err.c_str());
        DemoRun::TearDown();
    }

    void StartDemo(std::vector<std::string> args) {
        args.insert(args.begin(), Demo);
        demo_ = std::make_unique<Process>(
            args, dir_.string(),
            std::vector<std::string>{"DISPLAY=" + name_,
                                     "SDL_VIDEODRIVER", // as a user would: SDL finds X by itself
                                     "SDL_AUDIODRIVER=dummy"});
    }

    template <class Check> bool WaitFor(Check check, Seconds limit) {
        for (auto end = Process::Clock::now() + limit; Process::Clock::now() < end;) {
            if (check()) return true;
            std::this_thread::sleep_for(50ms);
        }
        return check();
    }

    // A window property as 32-bit items (longs, as Xlib hands them out).
    std::vector<unsigned long> Property(::Window window, const char* name) {
        Atom type;
        int format;
        unsigned long count = 0, after;
        unsigned char* data = nullptr;
        std::vector<unsigned long> items;
        if (XGetWindowProperty(display_, window, XInternAtom(display_, name, False), 0, 64, False,
                               AnyPropertyType, &type, &format, &count, &after, &data) == Success &&
            data && format == 32) {
            auto* values = reinterpret_cast<unsigned long*>(data);
            items.assign(values, values + count);
        }
        if (data) XFree(data);
        return items;
    }

    // The demo's mapped window, found by the process id it carries; 0 if none.
    ::Window DemoWindow(::Window under = 0) {
        if (!under) under = root_;
        ::Window rootReturn, parent, *children = nullptr, found = 0;
        unsigned count = 0;
        if (!XQueryTree(display_, under, &rootReturn, &parent, &children, &count)) return 0;
        for (unsigned i = 0; i < count && !found; ++i) {
            XWindowAttributes attributes;
            auto pid = Property(children[i], "_NET_WM_PID");
            if (!pid.empty() && pid[0] == static_cast<unsigned long>(demo_->pid()) &&
                XGetWindowAttributes(display_, children[i], &attributes) &&
                attributes.map_state == IsViewable)
                found = children[i];
            else
                found = DemoWindow(children[i]);
        }
        if (children) XFree(children);
        return found;
    }

    // The demo's window once openbox has framed it; 0 if it does not come.
    ::Window ManagedDemoWindow() {
        ::Window window = 0;
        auto framed = [&] {
            window = DemoWindow();
            return window && Property(window, "_NET_FRAME_EXTENTS").size() == 4;
        };
        return WaitFor(framed, 10s * StartUp) ? window : 0;
    }

    // Inner area, on the screen.
    Rect Area(::Window window) {
        XWindowAttributes attributes;
        ::Window child;
        Rect r;
        if (XGetWindowAttributes(display_, window, &attributes) &&
            XTranslateCoordinates(display_, window, root_, 0, 0, &r.x, &r.y, &child)) {
            r.width = attributes.width;
            r.height = attributes.height;
        }
        return r;
    }

    Colours Look(const Rect& r) {
        Colours c;
        XImage* image = XGetImage(display_, root_, r.x, r.y, static_cast<unsigned>(r.width),
                                  static_cast<unsigned>(r.height), AllPlanes, ZPixmap);
        if (!image) return c;
        for (int y = 0; y < r.height; ++y) {
            for (int x = 0; x < r.width; ++x) {
                unsigned long p = XGetPixel(image, x, y);
                int red = (p >> 16) & 255, green = (p >> 8) & 255, blue = p & 255;
                int high = std::max({red, green, blue}), low = std::min({red, green, blue});
                c.black += high < 16;
                c.coloured += high - low > 60;
            }
        }
        XDestroyImage(image);
        c.black /= r.width * r.height;
        c.coloured /= r.width * r.height;
        return c;
    }

    // Whether the pointer, moved to (x, y), shows no pixel at all within `wait`.
    bool PointerHiddenAt(int x, int y, Seconds wait) {
        // A real move, so that the server looks again at what is under it.
        XWarpPointer(display_, None, root_, 0, 0, 0, 0, x + 10, y + 10);
        XWarpPointer(display_, None, root_, 0, 0, 0, 0, x, y);
        XSync(display_, False);
        return WaitFor(
            [&] {
                XFixesCursorImage* cursor = XFixesGetCursorImage(display_);
                if (!cursor) return false;
                bool hidden = true;
                for (int i = 0; i < cursor->width * cursor->height; ++i)
                    hidden = hidden && (cursor->pixels[i] >> 24) == 0;
                XFree(cursor);
                return hidden;
            },
            wait);
    }

    std::unique_ptr<Process> server_, wm_, demo_;
    std::string name_;
    Display* display_ = nullptr;
    ::Window root_ = 0;
};

TEST_F(UnderX, WindowModeShowsTheFramesInADecoratedWindowWithoutTakingTheFocus) {
    StartDemo({"window"});
    const ::Window window = ManagedDemoWindow();
    ASSERT_NE(window, 0u);
    char* title = nullptr;
    XFetchName(display_, window, &title);
    EXPECT_EQ(title ? std::string(title) : "", Banner);
    if (title) XFree(title);

    const Rect area = Area(window);
    EXPECT_EQ(area.width, 640);
    EXPECT_EQ(area.height, 480);
    auto frame = Property(window, "_NET_FRAME_EXTENTS"); // left, right, top, bottom
    ASSERT_EQ(frame.size(), 4u);
    EXPECT_GT(frame[2], 0u) << "no title bar";
    EXPECT_EQ(area.x - static_cast<int>(frame[0]), 200);
    EXPECT_EQ(area.y - static_cast<int>(frame[2]), 200);
    std::this_thread::sleep_for(500ms); // time for openbox to give it the focus, if it would
    auto active = Property(root_, "_NET_ACTIVE_WINDOW");
    EXPECT_TRUE(active.empty() || active[0] != window) << "the window took the focus";

    ASSERT_TRUE(WaitFor([&] { return Look(area).Lights(); }, 5s * StartUp))
        << "black " << Look(area).black << ", coloured " << Look(area).coloured;

    EXPECT_FALSE(PointerHiddenAt(20, 20, 300ms)) << "no pointer to be seen even off the window";
    EXPECT_TRUE(PointerHiddenAt(area.x + 320, area.y + 240, 2s));
    EXPECT_EQ(demo_->Kill().out, "");
}

TEST_F(UnderX, EndsByItselfAfterTheDisplayOpened) {
    // Ended by the missing picture: the sanitizers see a whole run, X11 start-up included.
    fs::remove(dir_ / "bumpmap.png");
    StartDemo({"WINDOW"});
    const RunResult& run = demo_->Finish(20s);
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_EQ(run.err.find("Sanitizer:"), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "Couldn't load bumpmap.png\n");
}

TEST_F(UnderX, OwnScreenCoversTheScreen) {
    StartDemo({"--frobnicate"}); // not a word the demo knows: the usual own screen
    // SDL may replace its first window with one its renderer can draw in.
    ::Window window = 0;
    const Rect screen{0, 0, ScreenWidth, ScreenHeight};
    ASSERT_TRUE(
        WaitFor([&] { return (window = DemoWindow()) && Area(window) == screen; }, 10s * StartUp))
        << Area(window);
    EXPECT_TRUE(WaitFor(
        [&] {
            auto active = Property(root_, "_NET_ACTIVE_WINDOW");
            return !active.empty() && active[0] == window;
        },
        5s))
        << "the own screen did not take the focus";
    EXPECT_TRUE(WaitFor([&] { return Look(screen).Lights(); }, 5s * StartUp))
        << "black " << Look(screen).black << ", coloured " << Look(screen).coloured;
    EXPECT_TRUE(PointerHiddenAt(ScreenWidth / 2, ScreenHeight / 2, 2s));
    EXPECT_EQ(demo_->Kill().out, "");
}

// Xvfb reports no refresh rate, and Mesa's vertical sync holds each frame for
// about a sixtieth of a second.
TEST_F(UnderX, PacedRunsShowOneFramePerRefreshAndSleepBetween) {
    StartDemo({"w", "p"});
    ASSERT_NE(ManagedDemoWindow(), 0u);
    std::this_thread::sleep_for(3s);
    EXPECT_EQ(demo_->Kill().out, "");
    EXPECT_LT(demo_->result().cpuSeconds, 0.4 * demo_->result().seconds) << "not paced";
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "one full paced run is enough: the release build's";
#endif
    StartDemo({"paced", "window"});
    const ::Window window = ManagedDemoWindow();
    ASSERT_NE(window, 0u);
    // The plasma follows the lights at 13.75 s and, faded in, covers the frame.
    const Rect area = Area(window);
    EXPECT_TRUE(WaitFor([&] { return Look(area).Plasma(); }, 25s))
        << "black " << Look(area).black << ", coloured " << Look(area).coloured;
    const RunResult& run = demo_->Finish(FullRunLimit);
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_GT(RateOf(run.out), 50) << run.out;
    EXPECT_LT(RateOf(run.out), 70) << run.out;
    EXPECT_LT(run.cpuSeconds, 0.4 * run.seconds);
}

} // namespace
