// A mesh drawn from vertex arrays gives the pixels of the model it was made
// from, in every mode the ship is drawn with, in a real GL context.
#include "harness.h"

namespace {

TEST_F(Session, AMeshDrawsThePixelsOfItsModelInEveryShipMode) {
    // Wireframe, smooth, smooth with materials (the ship's three modes).
    const std::string modes[] = {"32", "2", "18"};
    std::vector<std::string> args = {MESH_PIXELS_PROGRAM, (run() / "data/111.obj").string()};
    args.insert(args.end(), std::begin(modes), std::end(modes));
    pid_t child = spawn(args, (dir / "out.log").string(), (dir / "err.log").string());
    EXPECT_EQ(exitStatus(child, 60), 0) << out() << err();
    std::string printed = out();
    for (const std::string& mode : modes) EXPECT_NE(printed.find(mode + " same "), std::string::npos) << printed;
}

}  // namespace
