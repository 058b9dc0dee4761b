// The PIN gate against a server started with --pin: the cells, submission, the tab's session (and the
// download links it opens), a session that dies with a server restart, and the lock-out after repeated
// wrong PINs.
import assert from 'node:assert/strict';
import { randomBytes } from 'node:crypto';
import { readFile } from 'node:fs/promises';
import { test } from 'node:test';

import { Receiver, checkAccessibility, openPage, rows, screenshot, useBrowser, waitForSummary, waitForText } from './support.mjs';

const pin = '1234';
const gateIntro = '此 Mac 已启用安全 PIN，验证通过后才能上传。';
let receiver;
let files;
const sharedContent = randomBytes(200 * 1024);
const session = useBrowser({
    async setUp() {
        const shared = await session.files({ '电路图.png': sharedContent });
        receiver = await Receiver.start({ saveDir: await session.folder('fl-web-save-'), pin, share: shared.paths });
        session.defer(() => receiver.stop());
        files = await session.files({ 'report.txt': 'quarterly numbers' });
        // Counts the page's own calls of the PIN route, synchronously, in every tab.
        await session.context.addInitScript(() => {
            const originalFetch = window.fetch;
            window.pinVerifyCalls = 0;
            window.fetch = function (input, init) {
                if (String(input).includes('/v1/pin/verify')) window.pinVerifyCalls += 1;
                return originalFetch.call(this, input, init);
            };
        });
    },
});

const openGate = () => openPage(session.context, receiver.url, { waitFor: '#pinGate' });
const pinCells = (page) => page.$$eval('.pin-cell', (cells) => cells.map((cell) => ({ value: cell.value, classes: cell.className })));
const values = async (page) => (await pinCells(page)).map((cell) => cell.value);
const token = (page) => page.evaluate(() => sessionStorage.getItem('ferrylantern-session'));
const verifyCalls = (page) => page.evaluate(() => window.pinVerifyCalls);
const focusedPINCell = (page) => page.evaluate(() => {
    const active = document.activeElement;
    return active?.classList.contains('pin-cell') ? Number(active.dataset.index) : null;
});

// Fires a paste of `text` at the PIN cell `index`, as a phone's paste menu would.
async function pasteIntoPINCell(page, index, text) {
    await page.locator('.pin-cell').nth(index).evaluate((cell, pasted) => {
        const data = new DataTransfer();
        data.setData('text/plain', pasted);
        cell.dispatchEvent(new ClipboardEvent('paste', { clipboardData: data, bubbles: true, cancelable: true }));
    }, text);
}

async function waitForSubmissionEnd(page) {
    await page.waitForFunction(() => !document.getElementById('pinSubmitBtn').disabled);
}

test('the gate shows first; a wrong PIN empties the cells, short PINs, backspace and arrows move between cells, ' +
    'a paste into any cell fills them from the first and submits four digits', { timeout: 45000 }, async () => {
    const page = await openGate();
    assert.equal(await page.textContent('#pageIntro'), gateIntro);
    assert.equal(await page.locator('#uploadPanel').isVisible(), false);
    assert.equal(await focusedPINCell(page), 0);
    await screenshot(page, 'pin-gate.png');
    await checkAccessibility(page, 'PIN gate, dark');
    await page.emulateMedia({ colorScheme: 'light' });
    await checkAccessibility(page, 'PIN gate, light');

    // A wrong PIN empties the cells and outlines them red; typing again clears the error line and the
    // red outline of that cell.
    await page.keyboard.type('9999');
    await waitForText(page, '#pinError', 'PIN 错误，请重试');
    await waitForSubmissionEnd(page);
    const cells = await pinCells(page);
    assert.deepEqual(cells.map((cell) => cell.value), ['', '', '', '']);
    assert.ok(cells.every((cell) => cell.classes.split(' ').includes('err')), JSON.stringify(cells));
    assert.equal(await focusedPINCell(page), 0);
    assert.equal(await token(page), null);
    await page.keyboard.type('1');
    assert.equal(await page.textContent('#pinError'), '');
    assert.deepEqual((await pinCells(page)).map((cell) => cell.classes), [
        'pin-cell filled', 'pin-cell err', 'pin-cell err', 'pin-cell err']);

    await page.keyboard.type('2');
    assert.deepEqual(await values(page), ['1', '2', '', '']);
    assert.equal(await focusedPINCell(page), 2);
    await page.click('#pinSubmitBtn');
    assert.equal(await page.textContent('#pinError'), '请输入 4 位数字 PIN');
    assert.ok(await page.$eval('#pinBoxes', (boxes) => boxes.classList.contains('shake')));
    assert.equal(await focusedPINCell(page), 2);

    // Keys and the cells and focus after them: backspace in an empty cell clears the previous one and
    // moves there, in the first cell it stops; in a filled cell it clears that cell and stays.
    const steps = [['Backspace', ['1', '', '', ''], 1], ['Backspace', ['', '', '', ''], 0],
        ['Backspace', ['', '', '', ''], 0], ['78', ['7', '8', '', ''], 2], ['ArrowLeft', ['7', '8', '', ''], 1],
        ['ArrowLeft', ['7', '8', '', ''], 0], ['Backspace', ['', '8', '', ''], 0]];
    for (const [keys, cells, focused] of steps) {
        await (/^\d+$/.test(keys) ? page.keyboard.type(keys) : page.keyboard.press(keys));
        assert.deepEqual([await values(page), await focusedPINCell(page)], [cells, focused], keys);
    }

    // A paste without digits changes nothing; one with digits starts over from the first cell.
    await pasteIntoPINCell(page, 2, 'no digits here');
    assert.deepEqual(await values(page), ['', '8', '', '']);
    await pasteIntoPINCell(page, 3, '1 2');
    assert.deepEqual(await values(page), ['1', '2', '', '']);
    assert.equal(await focusedPINCell(page), 2);
    assert.equal(await verifyCalls(page), 1, 'only the wrong PIN was checked');

    await pasteIntoPINCell(page, 2, '1-2-3-4');
    await page.locator('#uploadPanel').waitFor({ state: 'visible' });
    assert.equal(await page.locator('#pinGate').isVisible(), false);
    assert.ok(await token(page));
    assert.equal(await page.textContent('#pageIntro'), '将文件传到 测试电脑。选择文件后点「开始上传」。');
    await page.close();
});

test('the fourth digit submits once even with Enter pressed meanwhile; the session lives in the tab',
    { timeout: 45000 }, async () => {
        const page = await openGate();
        let routed = 0;
        let arrived;
        const firstArrival = new Promise((resolve) => { arrived = resolve; });
        let release;
        const held = new Promise((resolve) => { release = resolve; });
        await page.route('**/v1/pin/verify', async (route) => {
            routed += 1;
            arrived();
            await held;
            await route.continue();
        });

        await page.keyboard.type('1234');
        await firstArrival;
        assert.equal(await page.isDisabled('#pinSubmitBtn'), true);
        await page.keyboard.press('Enter');
        release();
        await page.locator('#uploadPanel').waitFor({ state: 'visible' });
        assert.equal(await verifyCalls(page), 1);
        assert.equal(routed, 1);
        await page.unroute('**/v1/pin/verify');

        // A reload keeps the tab's token: straight to the panel, no PIN asked.
        await page.reload();
        await page.locator('#uploadPanel').waitFor({ state: 'visible' });
        assert.equal(await page.locator('#pinGate').isVisible(), false);
        assert.equal(await verifyCalls(page), 0);

        // A download link cannot send the session header: the page gives the downloads (and nothing
        // else) the tab's session as a cookie.
        await page.locator('.shared-download').waitFor();
        const [download] = await Promise.all([page.waitForEvent('download'), page.click('.shared-download')]);
        assert.ok(sharedContent.equals(await readFile(await download.path())), 'downloaded byte-identical');
        assert.deepEqual((await session.context.cookies()).map(({ name, value, path, sameSite }) => ({ name, value, path, sameSite })),
            [{ name: 'ferrylantern_session', value: await token(page), path: '/v1/shared', sameSite: 'Strict' }]);

        // Another tab has its own session storage, so it asks again.
        const otherTab = await openGate();
        assert.equal(await otherTab.textContent('#pageIntro'), gateIntro);
        await otherTab.close();
        await page.close();
    });

test('a session that dies with a server restart sends the page back to the gate', { timeout: 60000 }, async () => {
    const page = await openGate();
    await pasteIntoPINCell(page, 0, pin);
    await page.locator('#uploadPanel').waitFor({ state: 'visible' });

    const port = receiver.port;
    await receiver.stop();
    receiver = await Receiver.start({ saveDir: receiver.saveDir, pin, port });
    assert.equal(receiver.port, port, 'the new server listens where the page points');

    await page.fill('#deviceName', '会话手机');
    await page.setInputFiles('#files', files.paths);
    await page.click('#uploadBtn');
    await page.locator('#pinGate').waitFor({ state: 'visible' });
    assert.equal(await page.textContent('#pinError'), 'PIN 已失效，请重新验证');
    assert.equal(await page.textContent('#pageIntro'), gateIntro);
    assert.equal(await token(page), null);
    assert.deepEqual((await rows(page)).map((row) => row.status), ['✗ 需要 PIN 验证']);

    await pasteIntoPINCell(page, 0, pin);
    await page.locator('#uploadPanel').waitFor({ state: 'visible' });
    await page.click('#uploadBtn');
    await waitForSummary(page, '全部完成（1 个文件）');
    assert.deepEqual((await rows(page)).map((row) => row.status), ['✓ 传输完成 → 会话手机/']);
    await page.close();
});

test('after repeated wrong PINs the wait counts down, the right PIN is never called wrong, and then it works',
    { timeout: 90000 }, async () => {
        const page = await openGate();
        const submit = async (digits) => {
            const answered = page.waitForResponse((response) => response.url().endsWith('/v1/pin/verify'));
            await page.keyboard.type(digits);
            const response = await answered;
            await page.waitForFunction(() => !pinSubmitting);
            return response;
        };
        for (let attempt = 0; attempt < 5; attempt += 1) {
            assert.equal((await submit('0000')).status(), 403);
            await waitForSubmissionEnd(page);
        }
        // Held back now: the right PIN is answered 429, unchecked, and the page says so with a countdown.
        const refused = await submit(pin);
        assert.equal(refused.status(), 429);
        const wait = Number(refused.headers()['retry-after']);
        assert.ok(wait > 0, 'Retry-After names the wait');
        const countdown = (seconds) => `尝试次数过多，请 ${seconds} 秒后再试`;
        assert.match(await page.textContent('#pinError'), /^尝试次数过多，请 \d+ 秒后再试$/);
        assert.notEqual(await page.textContent('#pinError'), 'PIN 错误，请重试');
        assert.deepEqual(await pinCells(page), pin.split('').map((digit) => ({ value: digit, classes: 'pin-cell filled' })),
            'the digits stay, and no cell is marked wrong');
        assert.equal(await page.isDisabled('#pinSubmitBtn'), true);
        assert.equal(await token(page), null);
        // The seconds go down on their own, to the end of the wait.
        await waitForText(page, '#pinError', countdown(wait - 2), 5000);
        await screenshot(page, 'pin-lockout.png');
        await waitForText(page, '#pinError', '', (wait + 2) * 1000);
        assert.equal(await page.isEnabled('#pinSubmitBtn'), true);
        await page.click('#pinSubmitBtn');
        await page.locator('#uploadPanel').waitFor({ state: 'visible' });
        assert.notEqual(await token(page), null);
        await page.close();
    });
