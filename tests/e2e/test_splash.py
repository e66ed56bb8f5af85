"""The launcher's splash window as another program on the desktop sees it."""
import os

from harness.launcher import NEW, STAMP, LauncherCase


class SplashTest(LauncherCase):

    def test_splash_geometry_alpha_and_label_through_an_update(self):
        self.install("v1")
        self.write(".dat", STAMP)
        self.publish(NEW, "v2")
        # Both downloads trickle for about two seconds, so each label text stays up long
        # enough to be seen.
        self.server.script(self.url_path("Kassa.txt"), trickle=(2, 0.2, 10))
        size = os.path.getsize(self.managed_exe["v2"])
        self.server.script(self.url_path("Kassa.bin"), trickle=(size // 10 + 1, 0.2, 10))
        run = self.launch(probe=True)
        self.assertExitedNormally(run)
        self.assertStarted("v2")

        self.assertEqual(len(run.seen.splash), 1, f"one splash window; saw {run.seen.windows}")
        splash = {k: v for k, v in run.seen.splash[0].items() if k != "caption"}
        screen_w, screen_h = (int(n) for n in splash["screen"].split("x"))
        self.assertEqual((splash["width"], splash["height"], splash["cwidth"], splash["cheight"]),
                         ("288", "61", "288", "61"), "no frame: the window is its client area")
        self.assertLessEqual(abs(int(splash["left"]) - (screen_w - 288) // 2), 1, splash)
        self.assertLessEqual(abs(int(splash["top"]) - (screen_h - 61) // 2), 1, splash)
        self.assertEqual((splash["layered"], splash["alpha"]), ("1", "200"))
        self.assertEqual(bytes.fromhex(run.seen.splash[0]["caption"]), b" ")

        texts = []
        for child in run.seen.splash_children:
            if child["text"] and child["text"] not in texts:
                texts.append(child["text"])
        self.assertEqual(texts[:2], [b"Versionkontroll...", b"H\xe4mtar uppdatering"])

        self.assertTrue(run.seen.probe_hooked, "the font probe runs inside the launcher")
        fonts = {(f["text"], f.get("face"), f.get("height")) for f in run.seen.splash_fonts}
        self.assertIn((b"Versionkontroll...", b"Trebuchet MS", "-19"), fonts)
