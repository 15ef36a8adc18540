#!/usr/bin/env python3
"""The remote control's page in a real headless Chromium against a real
dalingd (started by tst_webbrowser): a wrong password, the login, the list,
a bell's status turning 完成 live, stop and start, logout, and the banner
when the engine goes. Exits 77 where Chromium, its driver or Selenium is
missing.

usage: browser_test.py URL ACCOUNT PASSWORD BELL_ID DUE_EPOCH_S ENGINE_PID SHOT_DIR
"""
import os
import shutil
import signal
import sys
import tempfile
import time

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support import expected_conditions as ec
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:
    print("SKIP: python3-selenium is needed", file=sys.stderr)
    sys.exit(77)

CHROMIUM = shutil.which("chromium")
DRIVER = shutil.which("chromedriver")
if not CHROMIUM or not DRIVER:
    print("SKIP: chromium and chromium-driver are needed", file=sys.stderr)
    sys.exit(77)

url, account, password, bell_id, due, engine_pid, shots = sys.argv[1:8]
due = float(due)
profile = tempfile.mkdtemp(prefix="daling-chromium-")
options = webdriver.ChromeOptions()
options.binary_location = CHROMIUM
for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--disable-dev-shm-usage", "--user-data-dir=" + profile, "--window-size=1280,1500",
             "--lang=zh-CN"):
    options.add_argument(flag)
driver = webdriver.Chrome(service=Service(DRIVER), options=options)
wait = WebDriverWait(driver, 20)


def visible(element_id):
    return wait.until(ec.visibility_of_element_located((By.ID, element_id)))


def text_of(element_id):
    return driver.execute_script("return document.getElementById(arguments[0]).textContent;", element_id)


def text_is(element_id, text):
    wait.until(lambda d: text_of(element_id).strip() == text)


def login(pw):
    visible("name").clear()
    driver.find_element(By.ID, "name").send_keys(account)
    driver.find_element(By.ID, "password").clear()
    driver.find_element(By.ID, "password").send_keys(pw)
    driver.find_element(By.ID, "loginButton").click()


def status_of(bell):
    # Read in one go: the rows are drawn again at each notification.
    return driver.execute_script(
        "const c = document.querySelector('tr[data-id=\"' + arguments[0] + '\"] td.status');"
        "return c ? c.textContent : null;", str(bell))


PHONE = {"width": 390, "height": 844, "deviceScaleFactor": 1, "mobile": True}
try:
    # A phone's width (a headless window is no narrower than 500 pixels).
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", PHONE)
    driver.get(url)
    login(password + "x")
    wait.until(lambda d: text_of("loginError") == "账号或口令不对。")
    login(password)
    visible("main")
    wait.until(lambda d: status_of(bell_id) is not None)
    assert "早读" in text_of("bells")
    text_is("mode", "打铃中")

    # Live: the bell's row turns 完成 after its sound, with no reload.
    wait_done = WebDriverWait(driver, max(5.0, due - time.time() + 15))
    wait_done.until(lambda d: status_of(bell_id) == "播放" or status_of(bell_id) == "完成")
    wait_done.until(lambda d: status_of(bell_id) == "完成")
    driver.save_screenshot(os.path.join(shots, "remote-phone.png"))

    # Stop (asked first, as the window's band says) and start again.
    driver.find_element(By.ID, "modeButton").click()
    wait.until(ec.alert_is_present()).accept()
    text_is("mode", "已停止")
    driver.find_element(By.ID, "modeButton").click()
    text_is("mode", "打铃中")

    # The emergency from the page: asked first, then it sounds; then ended.
    driver.find_element(By.ID, "emergencyStart").click()
    question = wait.until(ec.alert_is_present())
    assert question.text.startswith("确定开始紧急广播吗？"), question.text
    question.accept()
    text_is("emergencyState", "紧急广播进行中。")
    time.sleep(1.0)
    driver.find_element(By.ID, "emergencyStop").click()
    wait.until(ec.alert_is_present()).accept()
    text_is("emergencyState", "没有紧急广播。")

    driver.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})
    driver.set_window_size(1280, 1500)
    driver.find_element(By.ID, "historyShow").click()
    wait.until(lambda d: "早读" in text_of("history"))
    driver.save_screenshot(os.path.join(shots, "remote-desktop.png"))
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", PHONE)

    driver.find_element(By.ID, "logout").click()
    visible("login")
    login(password)
    visible("main")
    wait.until(lambda d: status_of(bell_id) is not None)

    # The engine goes: the page says so and keeps trying.
    os.kill(int(engine_pid), signal.SIGTERM)
    wait.until(lambda d: d.find_element(By.ID, "lost").is_displayed())
    assert text_of("lost") == "连接已断开，正在重连…"
    driver.save_screenshot(os.path.join(shots, "remote-lost.png"))
    print("browser test passed")
finally:
    driver.quit()
    shutil.rmtree(profile, ignore_errors=True)
