// The upload flow without a PIN: selection, batch preflight, parallel uploads, row and summary texts,
// the answers the page cannot use, and how each failure and row state reads.
import assert from 'node:assert/strict';
import { randomBytes } from 'node:crypto';
import { readFile, rm } from 'node:fs/promises';
import path from 'node:path';
import { after, before, test } from 'node:test';

import {
    tearDown,
    Receiver, launchChromium, makeFiles, newPhone, openPage, rows, screenshot, temporaryFolder, waitForSummary,
} from './support.mjs';

const device = '测试手机';
let saveDir;
let receiver;
let chromium;
let context;
const requestedPaths = [];

before(async () => {
    saveDir = await temporaryFolder('fl-web-save-');
    receiver = await Receiver.start({ saveDir });
    chromium = await launchChromium();
    context = await newPhone(chromium.browser);
    context.on('request', (request) => requestedPaths.push(new URL(request.url()).pathname));
}, { timeout: 90000 });

after(async () => {
    await tearDown({ chromium, receiver, folders: [saveDir] });
    // Nothing in this file needs a PIN, so nothing may have asked for one.
    assert.ok(!requestedPaths.includes('/v1/pin/verify'), 'the page never verifies a PIN the server does not want');
    assert.deepEqual(context?.scriptErrors, []);
}, { timeout: 30000 });

async function openPanel() {
    const page = await openPage(context, receiver.url);
    await page.locator('#uploadPanel').waitFor({ state: 'visible' });
    return page;
}

test('without a PIN the upload panel shows at once', { timeout: 30000 }, async () => {
    const page = await openPanel();
    assert.equal(await page.locator('#pinGate').isVisible(), false);
    assert.equal(await page.textContent('#pageIntro'), '将文件传到 测试电脑。选择文件后点「开始上传」。');
    assert.equal(await page.textContent('#pageIntro strong'), '测试电脑');
    assert.ok(requestedPaths.includes('/v1/info'));
    await page.close();
});

test('a blank device name or an empty selection blocks the start', { timeout: 30000 }, async () => {
    const page = await openPanel();
    await page.fill('#deviceName', '   ');
    await page.click('#uploadBtn');
    await waitForSummary(page, '请填写本机名称后再上传');
    assert.equal(await page.getAttribute('#summary', 'class'), 'summary-err');
    const field = await page.$eval('#deviceName', (input) => ({
        invalid: input.classList.contains('device-invalid'),
        focused: document.activeElement === input,
        border: getComputedStyle(input).borderTopColor,
    }));
    assert.deepEqual(field, { invalid: true, focused: true, border: 'rgb(248, 113, 113)' });

    await page.fill('#deviceName', 'x');
    assert.equal(await page.$eval('#deviceName', (input) => input.classList.contains('device-invalid')), false);
    await page.click('#uploadBtn');
    await waitForSummary(page, '请先选择文件');
    assert.ok(!requestedPaths.includes('/v1/upload/preflight/batch'));
    await page.close();
});

test('three files arrive byte-identical in the device folder', { timeout: 90000 }, async () => {
    const contents = {
        'clip.bin': randomBytes(6 * 1024 * 1024 + 123),
        '照片 一.txt': Buffer.from('第一张照片的说明\n'),
        'notes.txt': Buffer.from('hello'),
    };
    const files = await makeFiles(contents);
    const page = await openPanel();
    await page.fill('#deviceName', `  ${device} `);
    await page.setInputFiles('#files', files.paths);
    await waitForSummary(page, '已选择 3 个文件，点「开始上传」并行传输');
    assert.deepEqual((await rows(page)).map((row) => [row.name, row.status, row.pct]),
        Object.keys(contents).map((name) => [name, '等待上传', '0%']));

    // Every status a row passes through, in the order seen.
    await page.evaluate(() => {
        window.seenStatuses = [];
        new MutationObserver(() => {
            for (const status of document.querySelectorAll('#queue .status')) {
                if (window.seenStatuses.at(-1) !== status.textContent) window.seenStatuses.push(status.textContent);
            }
        }).observe(document.getElementById('queue'), { subtree: true, childList: true, characterData: true });
    });
    await page.click('#uploadBtn');
    await waitForSummary(page, '全部完成（3 个文件）', 60000);

    assert.equal(await page.getAttribute('#summary', 'class'), 'summary-ok');
    assert.deepEqual((await rows(page)).map((row) => [row.status, row.pct, row.classes]),
        Object.keys(contents).map(() => [`✓ 传输完成 → ${device}/`, '100%', 'done']));
    assert.equal(await page.textContent('#toast'), '全部 3 个文件已传到 Mac');
    assert.ok(await page.$eval('#toast', (toast) => toast.classList.contains('show')));
    assert.equal(await page.isEnabled('#uploadBtn'), true);
    const seen = await page.evaluate(() => window.seenStatuses);
    for (const status of ['等待 Mac 确认…', '准备上传', '上传中']) {
        assert.ok(seen.includes(status), `rows passed through ${status}: ${seen.join(' | ')}`);
    }
    await screenshot(page, 'finished-batch.png');

    for (const [name, content] of Object.entries(contents)) {
        const saved = path.join(saveDir, device, name);
        assert.ok(content.equals(await readFile(saved)), `${name} arrived byte-identical`);
        await receiver.waitForLine(new RegExp(`^saved ${saved.replace(/[.*+?^${}()|[\]\\]/g, '\\$&')} \\(`));
    }

    await page.reload();
    await page.locator('#uploadPanel').waitFor({ state: 'visible' });
    assert.equal(await page.inputValue('#deviceName'), device);
    await page.close();
    await rm(files.folder, { recursive: true, force: true });
});

test('a selection holding an empty file is refused as a whole', { timeout: 30000 }, async () => {
    const files = await makeFiles({ 'empty.txt': '', 'full.txt': 'data' });
    const page = await openPanel();
    await page.fill('#deviceName', device);
    await page.setInputFiles('#files', files.paths);
    await page.click('#uploadBtn');
    await waitForSummary(page, '传输失败');
    assert.equal(await page.getAttribute('#summary', 'class'), 'summary-err');
    assert.deepEqual((await rows(page)).map((row) => [row.status, row.pct, row.classes]),
        [['✗ 无效的文件大小', '—', 'err'], ['✗ 无效的文件大小', '—', 'err']]);
    assert.equal(await page.textContent('#toast'), '本批文件均未传到 Mac');
    await assert.rejects(readFile(path.join(saveDir, device, 'full.txt')), { code: 'ENOENT' });
    await page.close();
    await rm(files.folder, { recursive: true, force: true });
});

test('answers the page cannot use fail their rows; a failed preflight starts no upload', { timeout: 60000 },
    async () => {
        const files = await makeFiles({ 'a.txt': 'a', 'b.txt': 'b' });
        const tickets = { status: 200, body: '{"approved":true,"items":[{"uploadId":"A"},{"uploadId":"B"}]}' };
        const cases = [
            // The preflight's answer, each upload's answer ('abort': none arrives), what both rows show.
            { preflight: { status: 200, body: '{"approved":true,"items":[{"uploadId":"X","filename":"a.txt"}]}' },
                shown: ['✗ 预检响应不完整', ''] },
            { preflight: { status: 200, body: '<html>' }, shown: ['✗ 预检响应格式错误', ''] },
            { preflight: { status: 500, body: '' }, shown: ['✗ 预检失败', ''] },
            { preflight: { status: 400, body: 'Mac 已拒绝' }, shown: ['✗ 传输失败', 'Mac 已拒绝'] },
            { preflight: tickets, upload: { status: 403, body: '已取消保存' }, shown: ['✗ 传输失败', '已取消保存'] },
            { preflight: tickets, upload: { status: 200, body: '<html>' }, shown: ['✗ 服务器返回格式错误', ''] },
            { preflight: tickets, upload: 'abort', shown: ['✗ 上传失败，请重试', ''] },
        ];
        const page = await openPanel();
        let uploads = 0;
        page.on('request', (request) => {
            if (new URL(request.url()).pathname === '/v1/upload') uploads += 1;
        });
        const isUpload = (url) => url.pathname === '/v1/upload';
        await page.fill('#deviceName', device);
        await page.setInputFiles('#files', files.paths);
        for (const { preflight, upload, shown } of cases) {
            const uploadsBefore = uploads;
            await page.route('**/v1/upload/preflight/batch', (route) => route.fulfill(preflight));
            await page.route(isUpload, (route) => (upload === 'abort' ? route.abort() : route.fulfill(upload)));
            await page.click('#uploadBtn');
            await waitForSummary(page, upload ? '全部传输失败（2 个）' : '传输失败');
            assert.deepEqual((await rows(page)).map((row) => [row.status, row.tooltip]), [shown, shown],
                JSON.stringify({ preflight, upload }));
            assert.equal(uploads - uploadsBefore, upload ? 2 : 0);
            await page.waitForFunction(() => !document.getElementById('uploadBtn').disabled);
            await page.unroute('**/v1/upload/preflight/batch');
            await page.unroute(isUpload);
        }
        await page.close();
        await rm(files.folder, { recursive: true, force: true });
    });

test('every answer reads as one kind of failure, and every row state and failure as one look', { timeout: 30000 },
    async () => {
        const answers = [
            // Status (0: no answer), the server's text, the kind the page reacts to.
            [0, '', 'network'],
            [401, '需要 PIN 验证', 'sessionExpired'],
            [401, '传输失败', 'sessionExpired'],
            [403, '上传许可无效或已过期', 'rejected'],
            [403, '', 'rejected'],
            [400, 'Mac 已拒绝', 'rejected'],
            [500, 'Upload failed: 对方未响应', 'rejected'],
            [499, '传输已取消', 'serverError'],
            [500, 'Upload failed: 上传中断，文件不完整', 'serverError'],
            [500, '', 'serverError'],
        ];
        const failed = (kind, request, status = 0, detail = '') => ['failed', { kind, request, status, detail }];
        const views = [
            // State and its detail; then the row's state class, bar width, percentage, status and tooltip.
            [['queued'], ['', '0%', '0%', '等待上传', '']],
            [['awaitingApproval'], ['waiting', '0%', '—', '等待 Mac 确认…', '']],
            [['ready'], ['', '0%', '0%', '准备上传', '']],
            [['uploading', { loaded: 1, total: 3 }], ['', '33%', '33%', '上传中', '']],
            [['uploading', { loaded: 5, total: 4 }], ['', '100%', '100%', '上传中', '']],
            [['uploading', { loaded: 0, total: 0 }], ['', '100%', '0 B', '上传中', '']],
            [['uploading', { loaded: 1023, total: 0 }], ['', '100%', '1023 B', '上传中', '']],
            [['uploading', { loaded: 1024, total: 0 }], ['', '100%', '1.0 KB', '上传中', '']],
            [['uploading', { loaded: 1048576, total: 0 }], ['', '100%', '1.0 MB', '上传中', '']],
            [['uploading', { loaded: 1073741824, total: 0 }], ['', '100%', '1.00 GB', '上传中', '']],
            [['done', { fileName: 'a.txt', deviceFolder: '手机' }], ['done', '100%', '100%', '✓ 传输完成 → 手机/', '']],
            [['done', { fileName: 'a.txt' }], ['done', '100%', '100%', '✓ 传输完成', '']],
            [failed('rejected', 'preflight', 403, '传输失败'), ['err', '0%', '—', '✗ 传输失败', '']],
            [failed('rejected', 'upload', 403, '已取消保存'), ['err', '0%', '—', '✗ 传输失败', '已取消保存']],
            [failed('superseded', 'preflight'), ['err', '0%', '—', '✗ 传输失败', '']],
            [failed('sessionExpired', 'upload', 401, '需要 PIN 验证'), ['err', '0%', '—', '✗ 需要 PIN 验证', '']],
            [failed('serverError', 'preflight', 400, '无效的文件大小'), ['err', '0%', '—', '✗ 无效的文件大小', '']],
            [failed('serverError', 'preflight', 500, ''), ['err', '0%', '—', '✗ 预检失败', '']],
            [failed('serverError', 'upload', 500, ''), ['err', '0%', '—', '✗ 500', '']],
            [failed('malformedAnswer', 'preflight'), ['err', '0%', '—', '✗ 预检响应格式错误', '']],
            [failed('malformedAnswer', 'upload'), ['err', '0%', '—', '✗ 服务器返回格式错误', '']],
            [failed('incompleteAnswer', 'preflight'), ['err', '0%', '—', '✗ 预检响应不完整', '']],
            [failed('incompleteAnswer', 'upload'), ['err', '0%', '—', '✗ 服务器返回数据不完整', '']],
            [failed('network', 'preflight'), ['err', '0%', '—', '✗ 传输失败', '']],
            [failed('network', 'upload'), ['err', '0%', '—', '✗ 上传失败，请重试', '']],
            [failed('network', 'upload', 0, 'InvalidStateError'),
                ['err', '0%', '—', '✗ 上传失败，请重试', 'InvalidStateError']],
            [failed('timeout', 'preflight'), ['err', '0%', '—', '✗ 传输失败', '']],
            [failed('timeout', 'upload'), ['err', '0%', '—', '✗ 上传超时，请重试', '']],
            [failed('aborted', 'upload'), ['err', '0%', '—', '✗ 已取消', '']],
        ];
        const page = await openPanel();
        const seen = await page.evaluate(([answerCases, viewCases]) => {
            // The tables name states, kinds and requests; the page's own enumerations must hold them.
            const known = (names, value) => {
                if (names[value] !== value) throw new Error(`unknown name ${value}`);
                return value;
            };
            const detailOf = (detail) => (detail && detail.kind ? {
                ...detail, kind: known(FailureKind, detail.kind), request: known(PageRequest, detail.request),
            } : detail);
            return {
                kinds: answerCases.map(([status, body]) => classifyFailure(status, body)),
                views: viewCases.map(([[state, detail]]) => {
                    const view = rowView(known(RowState, state), detailOf(detail));
                    return [view.cls, view.width, view.pct, view.status, view.title];
                }),
            };
        }, [answers, views]);
        assert.deepEqual(seen.kinds.map((kind, i) => [...answers[i].slice(0, 2), kind]), answers);
        assert.deepEqual(seen.views.map((view, i) => [views[i][0], view]), views);
        await page.close();
    });

test('a page that could not ask for info shows the gate, which a server without PIN lets through',
    { timeout: 30000 }, async () => {
        const phone = await newPhone(chromium.browser);
        const page = await phone.newPage();
        await page.route('**/v1/info', (route) => route.abort());
        await page.goto(receiver.url);
        await page.locator('#pinGate').waitFor({ state: 'visible' });
        assert.equal(await page.textContent('#pinError'), '无法连接 Mac，请检查网络');
        await page.keyboard.type('0000');
        await page.locator('#uploadPanel').waitFor({ state: 'visible' });
        assert.equal(await page.evaluate(() => sessionStorage.getItem('ferrylantern-session')), null);
        assert.deepEqual(phone.scriptErrors, []);
        await phone.close();
    });
