<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name>Zavrin</name>
    <message>
        <source>Zavrin</source>
        <translation>Zavrin</translation>
    </message>
    <message>
        <source>压缩文件</source>
        <translation>Compress Files</translation>
    </message>
    <message>
        <source>解压文件</source>
        <translation>Extract Files</translation>
    </message>
    <message>
        <source>压缩</source>
        <translation>Compress</translation>
    </message>
    <message>
        <source>解压</source>
        <translation>Extract</translation>
    </message>
    <message>
        <source>方便快捷 值得信赖</source>
        <translation>Quick, easy and trustworthy</translation>
    </message>
    <message>
        <source>点击上方按钮/拖拽文件至按钮区域</source>
        <translation>Click a button above, or drag files onto the one you need</translation>
    </message>
    <message>
        <source>意见反馈</source>
        <translation>Feedback</translation>
    </message>
    <message>
        <source>评分</source>
        <translation>Rate</translation>
    </message>
    <message>
        <source>不支持的文件格式</source>
        <translation>Unsupported file format</translation>
    </message>
    <message>
        <source>暂不支持的解压格式</source>
        <translation>This archive format is not supported yet</translation>
    </message>
    <message>
        <source>请输入解压密码</source>
        <translation>Enter the archive's password</translation>
    </message>
    <message>
        <source>解压密码错误</source>
        <translation>Wrong password</translation>
    </message>
    <message>
        <source>解压文件中...</source>
        <translation>Extracting…</translation>
    </message>
    <message>
        <source>解压完成</source>
        <translation>Extraction complete</translation>
    </message>
    <message>
        <source>解压文件错误</source>
        <translation>Could not extract the archive</translation>
    </message>
    <message>
        <source>压缩文件中...</source>
        <translation>Compressing…</translation>
    </message>
    <message>
        <source>压缩完成</source>
        <translation>Compression complete</translation>
    </message>
    <message>
        <source>创建压缩文件错误</source>
        <translation>Could not create the archive</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>输出路径:</source>
        <translation>Output path:</translation>
    </message>
    <message>
        <source>更换目录</source>
        <translation>Change Folder</translation>
    </message>
    <message>
        <source>解压完成打开项目文件夹</source>
        <translation>Open the folder when extraction is done</translation>
    </message>
    <message>
        <source>压缩完成打开项目文件夹</source>
        <translation>Open the folder when compression is done</translation>
    </message>
    <message>
        <source>文档预览</source>
        <translation>Document preview</translation>
    </message>
    <message>
        <source>立即解压</source>
        <translation>Extract Now</translation>
    </message>
    <message>
        <source>立即压缩</source>
        <translation>Compress Now</translation>
    </message>
    <message>
        <source>压缩选项:</source>
        <translation>Compression:</translation>
    </message>
    <message>
        <source>速度快</source>
        <translation>Faster</translation>
    </message>
    <message>
        <source>体积小</source>
        <translation>Smaller</translation>
    </message>
    <message>
        <source>自定义</source>
        <translation>Custom</translation>
    </message>
    <message>
        <source>格式:</source>
        <translation>Format:</translation>
    </message>
    <message>
        <source>压缩级别:</source>
        <translation>Level:</translation>
    </message>
    <message>
        <source>仅存储</source>
        <translation>Store only</translation>
    </message>
    <message>
        <source>最快压缩</source>
        <translation>Fastest</translation>
    </message>
    <message>
        <source>标准压缩</source>
        <translation>Normal</translation>
    </message>
    <message>
        <source>最大压缩</source>
        <translation>Maximum</translation>
    </message>
    <message>
        <source>%1 格式不支持密码，如需密码请选择 zip 或 7z</source>
        <translation>%1 archives cannot have a password; choose zip or 7z for one</translation>
    </message>
    <message>
        <source>%1 已存在，请换一个名称</source>
        <translation>%1 already exists; choose another name</translation>
    </message>
    <message>
        <source>添加密码</source>
        <translation>Add password</translation>
    </message>
    <message>
        <source>密码</source>
        <translation>Password</translation>
    </message>
    <message>
        <source>确认</source>
        <translation>Confirm</translation>
    </message>
    <message>
        <source>正在压缩，请稍等···</source>
        <translation>Compressing, please wait…</translation>
    </message>
    <message>
        <source>正在解压，请稍等···</source>
        <translation>Extracting, please wait…</translation>
    </message>
    <message>
        <source>完成后通知我</source>
        <translation>Notify me when done</translation>
    </message>
    <message>
        <source>您在使用软件过程中感受如何？</source>
        <translation>How do you feel about the app?</translation>
    </message>
    <message>
        <source>满意</source>
        <translation>Satisfied</translation>
    </message>
    <message>
        <source>不满意</source>
        <translation>Not satisfied</translation>
    </message>
    <message>
        <source>请描述您在使用我们的产品过程中所遇到的问题或者建议，我们会时刻关注，并不断优化。</source>
        <translation>Tell us about any problem or suggestion you have while using our product. We read every message and keep improving.</translation>
    </message>
    <message>
        <source>联系方式</source>
        <translation>Contact</translation>
    </message>
    <message>
        <source>QQ/Email/电话号码（可选）</source>
        <translation>QQ / e-mail / phone number (optional)</translation>
    </message>
    <message>
        <source>提交</source>
        <translation>Submit</translation>
    </message>
    <message>
        <source>请输入反馈信息或选择满意度</source>
        <translation>Write your feedback or choose how satisfied you are</translation>
    </message>
    <message>
        <source>反馈文本太长</source>
        <translation>The feedback text is too long</translation>
    </message>
    <message>
        <source>提交失败，在稍后再次尝试</source>
        <translation>Could not send; please try again later</translation>
    </message>
    <message>
        <source>分析事件</source>
        <translation>Analytics Events</translation>
    </message>
    <message>
        <source>调试</source>
        <translation>Debug</translation>
    </message>
    <message>
        <source>分析事件（普通窗口）</source>
        <translation>Analytics Events (Normal Window)</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>进度</source>
        <translation>Progress</translation>
    </message>
    <message>
        <source>%1：%2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>已存在，已保留</source>
        <translation>Already there; kept</translation>
    </message>
    <message>
        <source>路径不安全，已跳过</source>
        <translation>Unsafe path; skipped</translation>
    </message>
    <message>
        <source>发生未知错误</source>
        <translation>Something went wrong</translation>
    </message>
    <message>
        <source>密码不正确</source>
        <translation>The password is wrong</translation>
    </message>
    <message>
        <source>密码不正确，或文件已损坏</source>
        <translation>The password is wrong, or the archive is damaged</translation>
    </message>
    <message>
        <source>已取消</source>
        <translation>Cancelled</translation>
    </message>
    <message>
        <source>磁盘空间不足</source>
        <translation>The disk is full</translation>
    </message>
    <message>
        <source>没有可压缩的内容</source>
        <translation>There is nothing to compress</translation>
    </message>
    <message>
        <source>有两个项目同名</source>
        <translation>Two items have the same name</translation>
    </message>
    <message>
        <source>参数无效</source>
        <translation>Invalid arguments</translation>
    </message>
    <message>
        <source>不是有效的压缩文件</source>
        <translation>Not a valid archive</translation>
    </message>
    <message>
        <source>文件已损坏或不完整</source>
        <translation>Damaged or incomplete</translation>
    </message>
    <message>
        <source>含有指向目标文件夹之外的路径，已拒绝</source>
        <translation>Refused: it would write outside the chosen folder</translation>
    </message>
    <message>
        <source>没有读写权限</source>
        <translation>Permission denied</translation>
    </message>
    <message>
        <source>缺少分卷</source>
        <translation>A part of the split archive is missing</translation>
    </message>
    <message>
        <source>读取时被修改</source>
        <translation>It changed while being read</translation>
    </message>
    <message>
        <source>无法确认密码是否正确</source>
        <translation>The password could not be confirmed</translation>
    </message>
    <message>
        <source>使用了不支持的压缩方式</source>
        <translation>It uses a compression method that is not supported</translation>
    </message>
    <message>
        <source>没有写入任何文件，%1 个已有文件均已保留</source>
        <translation>Nothing was written; existing files kept: %1</translation>
    </message>
    <message>
        <source>已保留 %1 个已有文件</source>
        <translation>Existing files kept: %1</translation>
    </message>
    <message>
        <source>在文件管理器中显示</source>
        <translation>Show in File Manager</translation>
    </message>
    <message>
        <source>文件名含有无法识别的字符，未打开</source>
        <translation>The file name holds characters that cannot be read; it was not opened</translation>
    </message>
    <message>
        <source>%1 个项目</source>
        <translation>%1 items</translation>
    </message>
    <message>
        <source>所选文件夹不存在</source>
        <translation>The chosen folder does not exist</translation>
    </message>
    <message>
        <source>解压到同名文件夹</source>
        <translation>Extract into a folder named after the archive</translation>
    </message>
    <message>
        <source>没有选中要解压的项目</source>
        <translation>Nothing is ticked to extract</translation>
    </message>
    <message>
        <source>按名称筛选</source>
        <translation>Filter by name</translation>
    </message>
    <message>
        <source>正在读取文件列表…</source>
        <translation>Reading the archive's contents…</translation>
    </message>
    <message>
        <source>需要密码才能显示内容</source>
        <translation>A password is needed to show the contents</translation>
    </message>
    <message>
        <source>无法读取文件列表</source>
        <translation>Could not read the archive's contents</translation>
    </message>
    <message>
        <source>没有名称匹配的项目</source>
        <translation>No names match</translation>
    </message>
    <message>
        <source>名称</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>大小</source>
        <translation>Size</translation>
    </message>
    <message>
        <source>压缩后大小</source>
        <translation>Packed</translation>
    </message>
    <message>
        <source>修改时间</source>
        <translation>Modified</translation>
    </message>
    <message>
        <source>已加密</source>
        <translation>Encrypted</translation>
    </message>
    <message>
        <source>无法打开该文件</source>
        <translation>The file could not be opened</translation>
    </message>
    <message>
        <source>%1 个文件，%2 个文件夹，共 %3</source>
        <translation>Files: %1 · Folders: %2 · Total: %3</translation>
    </message>
    <message>
        <source>%1 个文件，%2 个文件夹，共 %3，压缩率 %4%</source>
        <translation>Files: %1 · Folders: %2 · Total: %3 · Packed to %4%</translation>
    </message>
</context>
</TS>
