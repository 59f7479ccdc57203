// The real program in a folder of its own, headless or on a virtual X server.
#include "files.h"
#include "subprocess.h"

#include <sstream>

// Last: Xlib defines words such as None and Bool as macros.
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xfixes.h>

using namespace std::chrono_literals;
using Seconds = Process::Seconds;
using Env = std::vector<std::string>;

const std::string Demo = Stranded("bumpwave").string();

// Under the sanitizers the demo starts slower and draws far fewer frames.
#if defined(__SANITIZE_ADDRESS__)
constexpr double StartUp = 3, MinRate = 5;
#else
constexpr double StartUp = 1, MinRate = 64;
#endif

// The frame rate of output that is exactly the frame-rate line, or -1.
double RateOf(const std::string& out) {
    const std::string head = "\n640 * 480 * 32 @ ";
    char* end = nullptr;
    double rate = out.starts_with(head) ? std::strtod(out.c_str() + head.size(), &end) : -1;
    return end && std::string_view(end) == " FPS\n" ? rate : -1;
}

struct DemoRun : InFolder {
    Env Headless(const std::string& file = "played.raw") {
        return {"SDL_VIDEODRIVER=offscreen", "SDL_AUDIODRIVER=disk",
                "SDL_DISKAUDIOFILE=" + (dir_ / file).string()};
    }
    std::string Played() const { return Slurp(dir_ / "played.raw"); }
};

TEST_F(DemoRun, PlaysTheWholeMusicThenEnds) {
    Provide();
    // Its stdout a pipe nobody reads: the frame-rate line fails, the run goes on. `.end`: its end.
    Process piped({"bash", "-c", "\"$0\" | true; s=${PIPESTATUS[0]}; : >played.end; exit $s", Demo},
                  dir_.string(), Headless());
    // Nothing it prints may reach its sound file. Paced, to leave the others the CPU.
    Process closed({"bash", "-c", "\"$0\" PACED >&- 2>&-; s=$?; : >closed.end; exit $s", Demo},
                   dir_.string(), Headless("closed.raw"));
    // Looping: the music from its start (the card's file written anew), a frame-rate line a round.
    Process loop({Demo, "--loop", "--paced"}, dir_.string(), Headless("loop.raw"));
    const std::string music = DecodeOgg(BuildDir / "testing.ogg");
    for (const std::string name : {"played", "closed"}) {
        const RunResult& run = (name == "played" ? piped : closed).Finish(120s);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        // The music outlasts the visuals; the pause follows its last sound, however late.
        EXPECT_TRUE(PlayedOnce(Slurp(dir_ / (name + ".raw")), music)) << name;
        const auto pause = fs::last_write_time(dir_ / (name + ".end")) -
                           fs::last_write_time(dir_ / (name + ".raw"));
        EXPECT_TRUE(pause > 900ms && pause < 4s) << name << " ended " << Seconds(pause).count();
    }
    const size_t second = 44100 * 4, sound = music.find_first_not_of('\0');
    std::string again;
    ASSERT_TRUE(loop.ReadUntil(
        [&](const RunResult& r) {
            again = Slurp(dir_ / "loop.raw");
            return r.out.ends_with("FPS\n") && again.size() < music.size() / 2 &&
                   again.find_first_not_of('\0') + second < again.size();
        },
        60s))
        << "no second round";
    kill(loop.pid(), SIGTERM);
    const RunResult& run = loop.Finish(120s);
    EXPECT_EQ(run.signal, SIGTERM) << run.err;
    EXPECT_GE(run.seconds, double(music.size()) / second + 1);
    EXPECT_EQ(again.compare(again.find_first_not_of('\0'), second, music, sound, second), 0);
    const size_t split = run.out.find("FPS\n") + 4;
    EXPECT_GT(RateOf(run.out.substr(0, split)), 0) << run.out;
    EXPECT_GE(RateOf(run.out.substr(split)), 0) << run.out; // the second, stopped
}

// The music a FIFO with no writer, or the card's file one nobody reads (its open never returns).
TEST_F(DemoRun, EndsWithTheVisualsWhenThereIsNoMusicToPlay) {
    Provide(Pictures);
    ASSERT_EQ(mkfifo((dir_ / "testing.ogg").c_str(), 0600), 0);
    ASSERT_EQ(mkfifo((dir_ / "card").c_str(), 0600), 0);
    Process fifo({Demo, "WINDOW"}, dir_.string(), Headless());
    Process blocked({Demo, "PACED"}, dir_.string(), Headless("card"));
    // What it says first, the seconds it lasts past 42, the least frame rate (paced: any).
    for (auto [process, said, extra, minRate] :
         {std::tuple{&fifo, "Couldn't open testing.ogg\n", 0.0, MinRate},
          {&blocked, "", 2.0, 1.0}}) {
        const RunResult& run = process->Finish(120s);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_TRUE(run.out.starts_with(said)) << run.out;
        EXPECT_GT(RateOf(run.out.substr(std::string_view(said).size())), minRate) << run.out;
        EXPECT_GE(run.seconds, 42 + extra);
        EXPECT_LT(run.seconds, 44 + extra + StartUp);
    }
    // A loaded machine may drop steps, and says so first; then how to see the show again.
    std::string err = blocked.result().err;
    if (err.find(" steps shown: ") < err.find('\n')) err.erase(0, err.find('\n') + 1);
    const size_t seed = err.find(" plays this show again\n");
    EXPECT_TRUE(err.starts_with("bumpwave: bumpwave --seed ") && seed < err.find('\n')) << err;
    EXPECT_EQ(err.substr(err.find('\n') + 1),
              "bumpwave: the sound card never started: not waiting for the music\n");
    EXPECT_TRUE(Silent(Played()));
}

// Status 1, after the second's pause, when it cannot show its visuals; 2 for a bad argument.
TEST_F(DemoRun, EndsAtStartUpWhenAskedOrWhenItCannotShowItsVisuals) {
    const std::string usage = "usage: bumpwave [--window] [--paced] [--rate N] [--calm] [--loop] "
                              "[--seed N] [--start SECONDS]\n";
    const std::string notFound = "bumpwave: bumpmap.png: not found in " + dir_.string();
    const Env noDisplay = {"DISPLAY", "WAYLAND_DISPLAY", "SDL_VIDEODRIVER",
                           "SDL_AUDIODRIVER=dummy"},
              bogus = {"SDL_VIDEODRIVER=bogus", "SDL_AUDIODRIVER=dummy"};
    const struct {
        Env args;
        int exitCode;
        std::string out;
        Env err = {};                    // each said
        Env files = DemoFiles, env = {}; // headless
    } cases[] = {
        {{}, 1, "", {"bumpwave: no display"}, DemoFiles, noDisplay},
        {{}, 1, "", {"no display: ", "(video driver bogus; SDL_VIDEODRIVER=x11"}, DemoFiles, bogus},
        // only the first missing picture is tried
        {{"-w", "--calm", "--loop"}, 1, "Couldn't load bumpmap.png\n", {notFound}, {"testing.ogg"}},
        {{}, 1, "Couldn't load boys.jpg\n", {}, {"bumpmap.png", "testing.ogg"}},
        {{"--help"}, 0, usage},
        {{"--version"}, 0, "bumpwave 1.0.0\n"},
        {{"WINDOW", "foo"}, 2, "", {"bumpwave: unknown argument \"foo\"\n" + usage}},
        {{"p", "rate", "500"}, 2, "", {"240, not \"500\"\n"}},
        {{"--start", "41.5"}, 2, "", {"--start takes a number of seconds from 0 to 41, not"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.out + testing::PrintToString(c.err) + testing::PrintToString(c.args));
        for (const std::string& name : DemoFiles) fs::remove(dir_ / name);
        Provide(c.files);
        Env args = {Demo};
        args.insert(args.end(), c.args.begin(), c.args.end());
        RunResult run = RunProgram(args, dir_.string(), c.env.empty() ? Headless() : c.env, 20s);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        EXPECT_EQ(c.out == usage ? run.out.substr(0, usage.size()) : run.out, c.out);
        for (const std::string& piece : c.err) EXPECT_NE(run.err.find(piece), std::string::npos);
        EXPECT_TRUE(c.exitCode || run.err.empty()) << run.err;
        EXPECT_EQ(run.err.find("bumpwave: "), run.err.rfind("bumpwave: ")) << run.err;
        EXPECT_EQ(run.err.find("bumpwave: ") == run.err.npos, c.exitCode == 0) << run.err;
        EXPECT_EQ(run.seconds >= 1, c.exitCode == 1) << "the pause at the end";
        EXPECT_LT(run.seconds, (c.exitCode == 1 ? 3 : 0) + StartUp);
        EXPECT_TRUE(Silent(Played()));
    }
    // No date after the version.
    EXPECT_NE(Slurp(Demo).find(std::string("$VER: bumpwave 1.0.0", 21)), std::string::npos);
}

struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
};

constexpr auto Lights = [](double lit) { return lit > 0.001 && lit < 0.1; };

template <class Check> bool WaitFor(Check check, Seconds limit) {
    for (auto end = Process::Clock::now() + limit; !check(); std::this_thread::sleep_for(50ms))
        if (Process::Clock::now() > end) return false;
    return true;
}

struct UnderX : DemoRun {
    void SetUp() override {
        if (std::system("command -v Xvfb >/dev/null && command -v openbox >/dev/null") != 0)
            GTEST_SKIP() << "needs Xvfb and openbox";
        Provide();
        StartX("1280x1024");
    }

    void StartX(const std::string& size) {
        server_ = std::make_unique<Process>(
            Env{"Xvfb", "-displayfd", "1", "-screen", "0", size + "x24"}, dir_.string());
        auto numbered = [](const RunResult& r) { return r.out.ends_with('\n'); };
        ASSERT_TRUE(server_->ReadUntil(numbered, 20s)) << server_->result().err;
        name_ = ":" + server_->result().out.substr(0, server_->result().out.find('\n'));
        ASSERT_NE(display_ = XOpenDisplay(name_.c_str()), nullptr);
        XSetErrorHandler([](Display*, XErrorEvent*) { return 0; }); // windows come and go
        root_ = DefaultRootWindow(display_);
        wm_ = std::make_unique<Process>(Env{"openbox", "--sm-disable", "--startup", "echo ready"},
                                        dir_.string(), Env{"DISPLAY=" + name_});
        // Windows mapped before it has fully started can be left unmanaged.
        auto ready = [](const RunResult& r) { return r.out.find("ready") != std::string::npos; };
        ASSERT_TRUE(wm_->ReadUntil(ready, 20s)) << wm_->result().err;
    }

    void StopX() {
        if (demo_ && HasFailure()) std::printf("the demo said:\n%s\n", demo_->Kill().err.c_str());
        demo_.reset();
        wm_.reset();
        if (display_) XCloseDisplay(display_);
        display_ = nullptr;
        // Asked to end, it removes its lock file and socket.
        if (server_ && kill(server_->pid(), SIGTERM) == 0) server_->Finish(120s);
        server_.reset();
    }

    void TearDown() override { StopX(); }

    // Fast unwinding: libgcc's deadlocks in GL's generated code. No leak check after GL frames:
    // SDL unloads GL first, leaving no library to suppress.
    Env DemoEnv(bool played, bool leaks) {
        const char* asan = std::getenv("ASAN_OPTIONS");
        return {"DISPLAY=" + name_, "SDL_VIDEODRIVER",
                played ? "SDL_AUDIODRIVER=disk" : "SDL_AUDIODRIVER=dummy",
                "SDL_DISKAUDIOFILE=" + (dir_ / "played.raw").string(),
                std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":fast_unwind_on_malloc=1" +
                    (leaks ? "" : ":detect_leaks=0")};
    }

    // Its window, `window_`, focused (full screen, given no arguments); if `played`, music heard.
    testing::AssertionResult StartDemo(Env args, bool played = false, bool leaks = true) {
        args.insert(args.begin(), Demo);
        demo_ = std::make_unique<Process>(args, dir_.string(), DemoEnv(played, leaks));
        auto shown = [&] {
            return (window_ = DemoWindow()) && Active(window_) &&
                   (args.size() > 1 || Area(window_).width == 1280);
        };
        if (!WaitFor(shown, 10s * StartUp))
            return testing::AssertionFailure() << "no window took the focus";
        if (played && !WaitFor([&] { return !Silent(Played()); }, 10s * StartUp))
            return testing::AssertionFailure() << "no music";
        return testing::AssertionSuccess();
    }

    // 32-bit items as longs, as Xlib hands them out; 8-bit ones, a text's bytes.
    std::vector<unsigned long> Property(::Window window, const char* name) {
        Atom type;
        int format = 0;
        unsigned long count = 0, after;
        unsigned char* data = nullptr;
        XGetWindowProperty(display_, window, XInternAtom(display_, name, False), 0, 64, False,
                           AnyPropertyType, &type, &format, &count, &after, &data);
        auto* items = reinterpret_cast<unsigned long*>(data);
        std::vector<unsigned long> values(items, items + (format == 32 ? count : 0));
        if (format == 8) values.assign(data, data + count);
        XFree(data);
        return values;
    }

    bool Active(::Window w) { return Property(root_, "_NET_ACTIVE_WINDOW") == std::vector{w}; }

    // The demo's window among those openbox manages, once framed; 0 if none.
    ::Window DemoWindow() {
        for (unsigned long window : Property(root_, "_NET_CLIENT_LIST"))
            if (Property(window, "_NET_WM_PID") ==
                    std::vector{static_cast<unsigned long>(demo_->pid())} &&
                Property(window, "_NET_FRAME_EXTENTS").size() == 4)
                return window;
        return 0;
    }

    Rect Area(::Window window) {
        XWindowAttributes attributes{};
        ::Window child;
        XGetWindowAttributes(display_, window, &attributes);
        XTranslateCoordinates(display_, window, root_, 0, 0, &attributes.x, &attributes.y, &child);
        return {attributes.x, attributes.y, attributes.width, attributes.height};
    }

    std::vector<unsigned long> Pixels(const Rect& r) {
        XImage* image = XGetImage(display_, root_, r.x, r.y, unsigned(r.width), unsigned(r.height),
                                  AllPlanes, ZPixmap);
        std::vector<unsigned long> pixels;
        for (int y = 0; image && y < r.height; ++y)
            for (int x = 0; x < r.width; ++x) pixels.push_back(XGetPixel(image, x, y));
        if (image) XDestroyImage(image);
        return pixels;
    }

    // The share not black: a few for the lights, all for the plasma.
    double Lit(const Rect& r) {
        auto lit = std::ranges::count_if(Pixels(r), [](unsigned long p) { return p & 0xF0F0F0; });
        return double(lit) / (r.width * r.height);
    }

    bool PointerHiddenAt(int x, int y, Seconds wait) {
        // A real move, so that the server looks again at what is under it.
        XWarpPointer(display_, None, root_, 0, 0, 0, 0, x + 10, y + 10);
        XWarpPointer(display_, None, root_, 0, 0, 0, 0, x, y);
        XSync(display_, False);
        auto hidden = [&] {
            XFixesCursorImage* cursor = XFixesGetCursorImage(display_);
            unsigned long alpha = cursor ? 0 : 1; // 0: every pixel clear
            for (int i = 0; cursor && i < cursor->width * cursor->height; ++i)
                alpha |= cursor->pixels[i] >> 24;
            XFree(cursor);
            return alpha == 0;
        };
        return WaitFor(hidden, wait);
    }

    // A lit frame at `frame`, black around it; at a whole `scale`, in even blocks but a torn row.
    bool ShowsFrameAt(const Rect& area, const Rect& frame, int scale) {
        const auto pixels = Pixels(area);
        if (pixels.size() != size_t(area.width) * area.height) return false;
        auto at = [&](int x, int y) { return pixels[y * area.width + x] & 0xFFFFFF; };
        long stray = 0, lit = 0, uneven = 0;
        for (int y = 0; y < area.height; ++y)
            for (int x = 0; x < area.width; ++x) {
                const int fx = area.x + x - frame.x, fy = area.y + y - frame.y;
                const bool in = fx >= 0 && fy >= 0 && fx < frame.width && fy < frame.height;
                stray += !in && at(x, y) != 0;
                lit += in && (at(x, y) & 0xF0F0F0) != 0;
                uneven += in && scale > 1 && at(x, y) != at(x - fx % scale, y - fy % scale);
            }
        return stray == 0 && lit > 0.99 * frame.width * frame.height &&
               uneven < 0.01 * frame.width * frame.height;
    }

    std::string Title() {
        const auto bytes = Property(window_, "_NET_WM_NAME");
        return {bytes.begin(), bytes.end()};
    }

    // Whether bumpwave-frames draws the same at `ms` for `seed`.
    bool Shows(const std::string& seed, uint32_t ms) {
        const std::string at = std::to_string(ms), out = "at" + at;
        RunProgram({Stranded("bumpwave-frames").string(), "--seed", seed, "--at", at, "--out", out},
                   dir_.string(), {}, 60s);
        std::string ppm = "P6\n640 480\n255\n";
        for (unsigned long p : Pixels(Area(window_))) ppm += {char(p >> 16), char(p >> 8), char(p)};
        return Slurp(dir_ / out / "frame-00000.ppm") == ppm;
    }

    void Press(KeySym key) {
        KeyCode code = XKeysymToKeycode(display_, key);
        XTestFakeKeyEvent(display_, code, True, 0);
        XTestFakeKeyEvent(display_, code, False, 0);
        XSync(display_, False);
    }

    void EndWithEscape() {
        Press(XK_Escape);
        const RunResult& run = demo_->Finish(20s * StartUp);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_GT(RateOf(run.out), 0) << run.out;
    }

    std::unique_ptr<Process> server_, wm_, demo_;
    std::string name_;
    Display* display_ = nullptr;
    ::Window root_ = 0, window_ = 0;
};

// Once it has taken the focus by itself; the last leaves no server.
TEST_F(UnderX, AKeyACloseOrALostWindowEndsTheShowAtOnceAndFadesTheMusic) {
    const struct {
        Env args;                   // none: it covers the screen and hides the pointer
        std::string how, said = ""; // how: a key's name, "close", "destroy" or "lose" (the server)
        bool leaks = true;          // checked where no GL scales or paces the frames
    } stops[] = {{{}, "q", "", false},
                 {{"PACED", "WINDOW"}, "Escape", "", false},
                 {{"WINDOW"}, "close"},
                 {{"window"}, "destroy", "bumpwave: the X server"},
                 {{"window"}, "lose", "bumpwave: lost the X server"}};
    for (const auto& stop : stops) {
        SCOPED_TRACE(stop.how);
        fs::remove(dir_ / "played.raw");
        ASSERT_TRUE(StartDemo(stop.args, true, stop.leaks));
        EXPECT_TRUE(WaitFor([&] { return Lights(Lit(Area(window_))); }, 5s * StartUp));
        EXPECT_TRUE(stop.args.size() || PointerHiddenAt(640, 512, 2s)); // full screen
        if (stop.how == "close") {
            // As a taskbar asks the window manager: source 2, a pager.
            Atom closing = XInternAtom(display_, "_NET_CLOSE_WINDOW", False);
            XEvent close{.xclient = {ClientMessage, 0, True, display_, window_, closing, 32, {}}};
            close.xclient.data.l[1] = 2;
            XSendEvent(display_, root_, False, SubstructureRedirectMask, &close);
        } else if (stop.how == "destroy") {
            XDestroyWindow(display_, window_);
        } else if (stop.how == "lose") {
            XCloseDisplay(display_);
            display_ = nullptr;
            kill(server_->pid(), SIGTERM);
        } else {
            Press(XStringToKeysym(stop.how.c_str()));
        }
        if (display_) XSync(display_, False);
        const auto asked = Process::Clock::now();
        const RunResult& run = demo_->Finish(120s);
        EXPECT_LT(Seconds(Process::Clock::now() - asked).count(), StartUp) << "not at once";
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_GT(RateOf(run.out), 0) << run.out; // a short run: its rate is the start-up's
        EXPECT_NE(run.err.find(stop.said), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find("X Error"), std::string::npos) << run.err;
        // Faded: the last millisecond before the silence after it is quiet, not a click.
        const std::string played = Played();
        const size_t end = played.find_last_not_of('\0') / 2 * 2;
        EXPECT_LT(end + 8, played.size()) << "no silence after the music";
        for (size_t at = end > 176 ? end - 176 : 0; at <= end; at += 2)
            ASSERT_LT(std::abs(int16_t(uint8_t(played[at]) << 8 | uint8_t(played[at + 1]))), 1000);
    }
}

// The picture holds still, the keys are still read. A busy machine drops frames, never steps.
TEST_F(UnderX, SpacePausesPictureAndMusicTogetherInAWholePacedShow) {
#if defined(__SANITIZE_ADDRESS__)
    // Ended by itself, it meets the leak checker, which finds what the GL driver keeps.
    GTEST_SKIP() << "one whole paced show is enough: the release build's";
#endif
    ASSERT_TRUE(StartDemo({"paced", "window"}, true));
    const auto paused = Process::Clock::now();
    Press(XK_space);
    std::this_thread::sleep_for(1s);
    const Rect area = Area(window_);
    const auto still = Pixels(area);
    std::this_thread::sleep_for(2s);
    EXPECT_TRUE(Pixels(area) == still) << "the picture moved while paused";
    const double pause = Seconds(Process::Clock::now() - paused).count();
    Press(XK_space); // read while paused
    EXPECT_TRUE(WaitFor([&] { return Pixels(area) != still; }, 2s)) << "never resumed";
    const RunResult& run = demo_->Finish(120s);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(
        PlayedOnce(Played(), DecodeOgg(BuildDir / "testing.ogg"), size_t(pause - 1) * 44100 * 4));
    EXPECT_TRUE(RateOf(run.out) > 0 && RateOf(run.out) < 61) << run.out;
    const size_t dropped = run.err.find(" steps shown");
    EXPECT_TRUE(dropped == run.err.npos || run.err.substr(dropped - 8, 8) == " of 2460") << run.err;
}

// Centred and decorated, it hides the pointer only over itself. Xvfb's refresh rate is 60 Hz.
TEST_F(UnderX, AWindowShowsTheFramesFocusedAndPacedRunsStepSixtyTimesASecondAndSleepBetween) {
    // Ended by the signal, with sixty frames a second, or the rate asked in steps of two refreshes.
    for (auto [args, signal, least, most] :
         {std::tuple{Env{"w", "p"}, SIGINT, MinRate / 4, 70.0},
          {Env{"p", "w", "rate", "30"}, SIGHUP, MinRate / 8, 31.0}}) {
        ASSERT_TRUE(StartDemo(args));
        EXPECT_TRUE(WaitFor([&] { return Title().ends_with(" / 0:41"); }, 5s)) << Title();
        const Rect area = Area(window_);
        auto frame = Property(window_, "_NET_FRAME_EXTENTS"); // left, right, top, bottom
        EXPECT_EQ(std::pair(area.width, area.height), std::pair(640, 480));
        EXPECT_NEAR(area.x + 320, 640, frame[0] + frame[1]);
        EXPECT_NEAR(area.y + 240, 512, frame[2] + frame[3]);
        ASSERT_TRUE(WaitFor([&] { return Lights(Lit(area)); }, 5s * StartUp));
        EXPECT_FALSE(PointerHiddenAt(20, 20, 300ms)) << "no pointer to be seen even off the window";
        EXPECT_TRUE(PointerHiddenAt(area.x + 320, area.y + 240, 2s));
        const auto before = Pixels(area); // a frozen demo's stays as it is
        EXPECT_TRUE(WaitFor([&] { return Pixels(area) != before; }, 2s)) << "the lights stay";
        // Its main thread neither runs nor waits for a CPU most of the time, however busy the CPU.
        double ran = 0, waited = 0, ranBefore = 0, waitedBefore = 0;
        const std::string schedstat = "/proc/" + std::to_string(demo_->pid()) + "/schedstat";
        std::istringstream(Slurp(schedstat)) >> ranBefore >> waitedBefore;
        std::this_thread::sleep_for(3s);
        std::istringstream(Slurp(schedstat)) >> ran >> waited;
        EXPECT_LT(ran + waited - ranBefore - waitedBefore, 0.6 * 3e9) << "not paced";
        kill(demo_->pid(), signal);
        const RunResult& stopped = demo_->Finish(120s);
        EXPECT_EQ(stopped.signal, signal) << stopped.err;
        EXPECT_TRUE(RateOf(stopped.out) > least && RateOf(stopped.out) < most) << stopped.out;
    }
}

// In weston on the virtual X server: the frames black where weston's background is blue.
TEST_F(UnderX, UnderWaylandAWindowShowsTheFramesAndEscapeEndsTheShow) {
    if (std::system("command -v weston >/dev/null") != 0) GTEST_SKIP() << "needs weston";
    Env wayland = DemoEnv(false, false); // SDL shows a Wayland window's pixels through GL
    wayland.insert(wayland.end(), {"XDG_RUNTIME_DIR=" + dir_.string(),
                                   "WAYLAND_DISPLAY=bumpwave-test", "SDL_VIDEODRIVER=wayland"});
    Process weston({"weston", "--backend=x11-backend.so", "--socket=bumpwave-test", "--width=800",
                    "--height=600", "--idle-time=0", "--use-pixman"},
                   dir_.string(), wayland);
    auto shell = [](const RunResult& r) { return r.err.find("desktop-shell'") != r.err.npos; };
    ASSERT_TRUE(weston.ReadUntil(shell, 20s)) << weston.result().err;
    std::vector<unsigned long> active; // weston's own window, where it shows its screen
    auto focused = [&] { return (active = Property(root_, "_NET_ACTIVE_WINDOW")).size() == 1; };
    ASSERT_TRUE(WaitFor([&] { return focused() && active[0]; }, 10s));
    const Rect screen = Area(active[0]);
    auto black = [&] { return std::ranges::count(Pixels(screen), 0ul) > 640 * 480 * 9 / 10; };
    ASSERT_TRUE(WaitFor([&] { return !black(); }, 10s)) << "weston shows no background";
    demo_ = std::make_unique<Process>(Env{Demo, "--window"}, dir_.string(), wayland);
    ASSERT_TRUE(WaitFor(black, 10s * StartUp)) << "no window";
    const auto before = Pixels(screen);
    EXPECT_TRUE(WaitFor([&] { return Pixels(screen) != before; }, 2s)) << "the lights stay";
    EndWithEscape();
}

// The largest 4:3 size that fits with its title bar, where 640 × 480 would lose rows.
TEST_F(UnderX, AWindowFitsWholeOnAScreenTooSmallForTheFrame) {
    const int width = 640, height = 480;
    StopX();
    StartX("640x480");
    ASSERT_TRUE(StartDemo({"window"}));
    const auto frame = Property(window_, "_NET_FRAME_EXTENTS"); // left, right, top, bottom
    ASSERT_GT(frame[2], 0u) << "no title bar";
    const int across = int(frame[0] + frame[1]), down = int(frame[2] + frame[3]);
    Rect area;
    auto fits = [&] {
        area = Area(window_);
        return area.x >= int(frame[0]) && area.y >= int(frame[2]) &&
               area.x + area.width + int(frame[1]) <= width &&
               area.y + area.height + int(frame[3]) <= height;
    };
    EXPECT_TRUE(WaitFor(fits, 5s * StartUp)) << area.width << "x" << area.height;
    EXPECT_EQ(area.width * 3, area.height * 4);
    EXPECT_TRUE(area.width + across > width - 4 || area.height + down > height - 3);
    EXPECT_TRUE(WaitFor([&] { return Lights(Lit(area)); }, 5s * StartUp)) << "nothing shown";
    EndWithEscape();
}

// F11 there and back, and a resize, replace its pixels. Checked on the plasma, lit all over.
TEST_F(UnderX, FullScreenAndResizedTheFrameKeepsShowingWhereTheRulePutsIt) {
    ASSERT_TRUE(StartDemo({"WINDOW"}));
    ASSERT_TRUE(WaitFor([&] { return Lit(Area(window_)) > 0.99; }, 25s)) << "no plasma";
    // Full screen, the window again, resized: its inner size; the frame in it, its whole scale.
    struct Step {
        int width, height, scale;
        Rect at;
    };
    for (const Step& step : {Step{1280, 1024, 2, {0, 32, 1280, 960}},
                             {640, 480, 1, {0, 0, 640, 480}},
                             {1000, 600, 0, {100, 0, 800, 600}}}) {
        SCOPED_TRACE(step.width);
        if (step.scale) {
            Press(XK_F11);
        } else {
            XMoveResizeWindow(display_, window_, 40, 60, step.width, step.height);
            XSync(display_, False);
        }
        Rect area;
        auto sized = [&] {
            return (area = Area(window_)).width == step.width && area.height == step.height;
        };
        ASSERT_TRUE(WaitFor(sized, 5s * StartUp));
        const Rect frame{area.x + step.at.x, area.y + step.at.y, step.at.width, step.at.height};
        EXPECT_TRUE(WaitFor([&] { return ShowsFrameAt(area, frame, step.scale); }, 5s * StartUp));
        const auto before = Pixels(frame);
        EXPECT_TRUE(WaitFor([&] { return Pixels(frame) != before; }, 2s * StartUp)) << "frozen";
    }
    EndWithEscape();
}

// Stopped for a second, then paused: the frame within 0.1 s of the music; then seeking, paused.
TEST_F(UnderX, AfterAStallPictureAndMusicGoOnTogetherAndSeekingShowsTheFrameThere) {
    ASSERT_TRUE(StartDemo({"--paced", "--window", "--seed", "5"}, true, false));
    std::this_thread::sleep_for(1s);
    kill(demo_->pid(), SIGSTOP);
    std::this_thread::sleep_for(1s);
    kill(demo_->pid(), SIGCONT);
    std::this_thread::sleep_for(1s);
    Press(XK_space);
    ASSERT_TRUE(WaitFor([&] { return Title().ends_with(" paused"); }, 5s)) << Title();
    std::this_thread::sleep_for(500ms); // what the card held is written
    const std::string played = Played(), music = DecodeOgg(BuildDir / "testing.ogg");
    const size_t end = played.find_last_not_of('\0') / 4 * 4 + 4;
    const size_t at = music.find(played.substr(end - 4096, 4096));
    ASSERT_NE(at, std::string::npos) << "the music was not played as it is";
    const double heard = double(at + 4096) / (44100 * 4);
    bool together = false;
    for (int k = int((heard - 0.1) * 60) + 1; k * 1000 / 60 <= (heard + 0.1) * 1000; ++k)
        together = together || Shows("5", uint32_t(k * 1000 / 60));
    EXPECT_TRUE(together) << "music at " << heard << " s, picture not within 0.1 s of it";
    const std::pair<KeySym, uint32_t> seeks[] = {
        {XK_8, 32800},     {XK_Left, 27800}, {XK_period, 27816}, {XK_period, 27833},
        {XK_comma, 27816}, {XK_2, 8200},     {XK_Right, 13200},  {XK_Home, 0}};
    for (const auto& seek : seeks) {
        Press(seek.first);
        EXPECT_TRUE(WaitFor([&] { return Shows("5", seek.second); }, 5s * StartUp))
            << XKeysymToString(seek.first) << " to " << seek.second << " ms";
    }
    EXPECT_EQ(Title(), "bumpwave 0:00 / 0:41 paused");
    EndWithEscape();
}
