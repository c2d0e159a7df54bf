// The JPEG codec and the lookup of the control pictures: the real pictures decode at the sizes of
// their controls, and every kind of bad file gives a null picture instead of ending the process.

#include "presentation/controls/controlpictures.h"
#include "presentation/controls/customactionbutton.h"
#include "presentation/controls/jpegcodec.h"
#include "presentation/controls/toggle.h"
#include "testfolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QPixmap>

#include <gtest/gtest.h>

#include <cstring>

namespace {

TJpegImage Decode(const QByteArray &bytes, std::string *error = nullptr)
{
    TJpegImage image;
    DecodeJpeg(reinterpret_cast<const std::uint8_t *>(bytes.constData()), static_cast<std::size_t>(bytes.size()), image,
        error);
    return image;
}

struct Rgb {
    int r, g, b;
};

Rgb PixelAt(const TJpegImage &image, int x, int y)
{
    const auto *p = image.rgb.data() + (static_cast<std::size_t>(y) * image.width + x) * 3;
    return {p[0], p[1], p[2]};
}

TEST(Jpeg, RealPicturesHaveTheSizesOfTheirControls)
{
    struct Case {
        const char *name;
        int width, height;
    } cases[] = {
        {"arrow.jpg", TCustomActionButton::kWidth, TCustomActionButton::kHeight},
        {"arrow2.jpg", TCustomActionButton::kWidth, TCustomActionButton::kHeight},
        {"on.jpg", TToggle::kWidth, TToggle::kHeight},
        {"off.jpg", TToggle::kWidth, TToggle::kHeight},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::string error;
        const TJpegImage image = Decode(ReadAll(SourcePicture(c.name)), &error);
        EXPECT_EQ(error, "");
        EXPECT_EQ(image.width, c.width);
        EXPECT_EQ(image.height, c.height);
        EXPECT_EQ(image.rgb.size(), static_cast<std::size_t>(c.width * c.height * 3));
    }
}

TEST(Jpeg, TogglePicturesShowTheKnobUpForOnAndDownForOff)
{
    const TJpegImage on = Decode(ReadAll(SourcePicture("on.jpg")));
    const TJpegImage off = Decode(ReadAll(SourcePicture("off.jpg")));
    ASSERT_EQ(on.width, 10);
    ASSERT_EQ(off.width, 10);
    // On: light knob at the top, green slot below. Off: grey slot above, light knob below.
    const Rgb onTop = PixelAt(on, 5, 3), onBottom = PixelAt(on, 5, 15);
    const Rgb offTop = PixelAt(off, 5, 5), offBottom = PixelAt(off, 5, 17);
    EXPECT_GT(onTop.r, 200);
    EXPECT_GT(onBottom.g, onBottom.r + 60);
    EXPECT_LT(offTop.r, 190);
    EXPECT_LT(std::abs(offTop.r - offTop.g), 30);
    EXPECT_GT(offBottom.r, 200);
}

TEST(Jpeg, EncodeDecodeRoundTrip)
{
    TJpegImage image;
    image.width = 33;
    image.height = 7;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            image.rgb.push_back(static_cast<std::uint8_t>(x < 16 ? 250 : 10));
            image.rgb.push_back(static_cast<std::uint8_t>(y * 30));
            image.rgb.push_back(128);
        }
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(EncodeJpeg(image, 95, bytes));
    TJpegImage back;
    ASSERT_TRUE(DecodeJpeg(bytes.data(), bytes.size(), back));
    ASSERT_EQ(back.width, 33);
    ASSERT_EQ(back.height, 7);
    EXPECT_NEAR(PixelAt(back, 2, 3).r, 250, 12);
    EXPECT_NEAR(PixelAt(back, 30, 3).r, 10, 12);
    EXPECT_NEAR(PixelAt(back, 20, 6).g, 180, 12);

    // Pixels that do not match the size are refused, not read past.
    image.rgb.pop_back();
    std::string error;
    EXPECT_FALSE(EncodeJpeg(image, 95, bytes, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(bytes.empty());
}

TEST(Jpeg, BadDataIsRefusedWithoutEndingTheProcess)
{
    const QByteArray good = ReadAll(SourcePicture("on.jpg"));
    ASSERT_GT(good.size(), 200);
    // The start-of-frame marker carries the size; a forged one asks for a huge picture.
    const qsizetype sof = good.indexOf(QByteArray("\xFF\xC0", 2));
    ASSERT_GT(sof, 0);
    QByteArray huge = good;
    huge[sof + 5] = char(0xFF); // height 0xFF.. (bytes 5–6 after the marker)
    huge[sof + 7] = char(0xFF); // width
    QByteArray zeroWidth = good;
    zeroWidth[sof + 7] = 0;
    zeroWidth[sof + 8] = 0;
    QByteArray noStart = good;
    noStart[1] = 0; // the SOI marker broken

    struct Case {
        const char *what;
        QByteArray bytes;
    } cases[] = {
        {"empty", QByteArray()},
        {"a text file", QByteArray("[Launch]\nUpdateTag=1\n")},
        {"a PNG signature", QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)},
        {"the start marker only", good.left(2)},
        {"cut inside the header", good.left(40)},
        {"cut after the frame header", good.left(sof + 20)},
        {"cut in the middle of the data", good.left(good.size() / 2 + 100)},
        {"cut before the end marker", good.left(good.size() - 2)},
        {"a huge size in the header", huge},
        {"a zero width", zeroWidth},
        {"a broken start marker", noStart},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::string error;
        const TJpegImage image = Decode(c.bytes, &error);
        EXPECT_EQ(image.width, 0);
        EXPECT_TRUE(image.rgb.empty());
        EXPECT_FALSE(error.empty());
    }
}

TEST(ControlPictures, LookupTakesTheFirstFolderThatHasThePicture)
{
    TTestFolder first, second;
    second.Write("on.jpg", ReadAll(SourcePicture("on.jpg")));
    second.Write("off.jpg", ReadAll(SourcePicture("off.jpg")));
    first.Write("off.jpg", ReadAll(SourcePicture("on.jpg")));
    ControlPictures::SetSearchFolders({first.dir.path(), second.dir.path()});
    EXPECT_EQ(ControlPictures::Find("on.jpg"), QDir(second.dir.path()).filePath("on.jpg"));
    EXPECT_EQ(ControlPictures::Find("off.jpg"), QDir(first.dir.path()).filePath("off.jpg"));
    EXPECT_EQ(ControlPictures::Find("arrow.jpg"), QString());
    EXPECT_TRUE(ControlPictures::Load("arrow.jpg").isNull());
    ControlPictures::SetSearchFolders({});

    // By default the working folder comes first, then the program's folder, where the build
    // puts a copy of the pictures for these tests.
    const QStringList folders = ControlPictures::SearchFolders();
    ASSERT_GE(folders.size(), 3);
    EXPECT_EQ(folders[0], QDir::currentPath());
    const QString program = QCoreApplication::applicationDirPath();
    const auto programAt = folders.indexOf(program); // the same as the working folder under ctest
    EXPECT_GE(programAt, 0);
    EXPECT_EQ(folders.indexOf(QDir::cleanPath(program + "/../share/kestmanager")), programAt + 1);
    EXPECT_TRUE(folders.last().endsWith("/share/kestmanager")); // where an installation puts them
    for (const char *name : {"arrow.jpg", "arrow2.jpg", "on.jpg", "off.jpg"}) {
        SCOPED_TRACE(name);
        const QImage image = ControlPictures::Load(name);
        EXPECT_FALSE(image.isNull());
    }
}

TEST(ControlPictures, MissingCorruptOrTruncatedPicturesLeaveTheControlsWorking)
{
    const QByteArray good = ReadAll(SourcePicture("arrow.jpg"));
    struct Case {
        const char *what;
        bool write;
        QByteArray bytes;
    } cases[] = {
        {"missing", false, QByteArray()},
        {"empty", true, QByteArray()},
        {"not a JPEG", true, QByteArray("GIF89a not really")},
        {"truncated", true, good.left(good.size() / 2)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TTestFolder folder;
        if (c.write)
            for (const char *name : {"arrow.jpg", "arrow2.jpg", "on.jpg", "off.jpg"})
                folder.Write(name, c.bytes);
        ControlPictures::SetSearchFolders({folder.dir.path()});
        EXPECT_TRUE(ControlPictures::LoadJpegFile(folder.Path("arrow.jpg")).isNull());

        // Nothing is printed, neither when the pictures are looked for nor when painting.
        static int messages;
        messages = 0;
        const QtMessageHandler previous
            = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) { ++messages; });
        TToggle toggle;
        TCustomActionButton button;
        for (int i = 0; i < 3; ++i) {
            toggle.grab();
            button.grab();
        }
        qInstallMessageHandler(previous);
        EXPECT_EQ(messages, 0);
        EXPECT_FALSE(toggle.HasPictures());
        EXPECT_FALSE(button.HasPictures());
        // Drawn plainly: something is painted, and painting again changes nothing.
        const QImage first = toggle.grab().toImage();
        EXPECT_EQ(first.size(), QSize(TToggle::kWidth, TToggle::kHeight));
        EXPECT_EQ(toggle.grab().toImage(), first);
        EXPECT_FALSE(button.grab().toImage().isNull());

        bool asked = false;
        toggle.SetEnabled(true);
        toggle.SetAction([&](bool) { asked = true; });
        toggle.SwitchState();
        EXPECT_FALSE(toggle.State());
        EXPECT_NE(toggle.grab().toImage(), first); // the plain drawing shows the state too
    }
    ControlPictures::SetSearchFolders({});
}

} // namespace
