import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
sys.path[:0] = [HERE, os.path.join(ROOT, "tools", "umx")]

FIXTURES = os.path.join(ROOT, "tests", "data", "umx")
LEGACY = os.path.join(FIXTURES, "umx_h8_legacy.pth")
ZIP = os.path.join(FIXTURES, "umx_h8_zip.pth")
FORWARD = os.path.join(FIXTURES, "umx_h8_forward.npz")
CONVERTER = os.path.join(ROOT, "tools", "umx", "convert_checkpoint.py")
