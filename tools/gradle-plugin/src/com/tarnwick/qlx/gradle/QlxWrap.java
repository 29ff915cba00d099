// The QlxWrap task type: the application JAR and its runtime class path in,
// one program file (and, with dependencies = 'lib', a lib/ folder beside it)
// out. Every setting is a plain task property with its input or output
// annotation, so Gradle knows when the program is up to date; a setting the
// task does not set comes from qlx { }, and then from its default.
package com.tarnwick.qlx.gradle;

import com.tarnwick.qlx.wrap.BuildRequest;
import com.tarnwick.qlx.wrap.WrapException;
import com.tarnwick.qlx.wrap.WrapRequest;
import java.io.File;
import java.util.ArrayList;
import java.util.HashSet;
import java.util.List;
import java.util.Set;
import org.gradle.api.DefaultTask;
import org.gradle.api.GradleException;
import org.gradle.api.Task;
import org.gradle.api.file.FileCollection;
import org.gradle.api.tasks.Classpath;
import org.gradle.api.tasks.Input;
import org.gradle.api.tasks.InputFile;
import org.gradle.api.tasks.Internal;
import org.gradle.api.tasks.Optional;
import org.gradle.api.tasks.OutputDirectory;
import org.gradle.api.tasks.OutputFile;
import org.gradle.api.tasks.TaskAction;

public class QlxWrap extends DefaultTask {
    private final QlxExtension own = new QlxExtension(getProject());
    private QlxExtension defaults;
    private Task jarTask;
    private FileCollection runtimeClasspath;
    private File jar;

    /** The plugin's wiring: qlx { }, the jar task and the runtime class path. */
    void useDefaults(QlxExtension extension, Task jarTask, FileCollection runtimeClasspath) {
        this.defaults = extension;
        this.jarTask = jarTask;
        if (this.runtimeClasspath == null) this.runtimeClasspath = runtimeClasspath;
    }

    private QlxExtension defaults() {
        return defaults != null ? defaults : own;
    }

    private static <T> T pick(T mine, T shared, T fallback) {
        return mine != null ? mine : shared != null ? shared : fallback;
    }

    /** The application JAR; default: the jar task's archive. */
    @InputFile
    public File getJar() {
        if (jar != null) return jar;
        return jarTask != null ? jarTask.getOutputs().getFiles().getSingleFile() : null;
    }

    public void setJar(Object v) {
        jar = getProject().file(v);
    }

    /** The runtime dependencies, merged or copied into lib/ as `dependencies` says. */
    @Classpath
    public FileCollection getRuntimeClasspath() {
        return runtimeClasspath != null ? runtimeClasspath : getProject().files();
    }

    public void setRuntimeClasspath(FileCollection v) {
        runtimeClasspath = v;
    }

    /** Default: build/qlx/NAME.exe for the JAR NAME.jar (no .exe for linux). */
    @OutputFile
    public File getOutput() {
        File set = pick(own.output, defaults().output, null);
        if (set != null) return set;
        String name = getJar() == null ? getProject().getName() : getJar().getName().replaceFirst("\\.jar$", "");
        return new File(getProject().getBuildDir(), "qlx/" + name + ("linux".equals(getPlatform()) ? "" : ".exe"));
    }

    public void setOutput(Object v) {
        own.output = own.file(v);
    }

    /** lib/ beside the program when the dependencies are copied there. */
    @OutputDirectory
    @Optional
    public File getLibDirectory() {
        return "lib".equalsIgnoreCase(getDependencies().trim()) ? new File(getOutput().getParentFile(), "lib") : null;
    }

    /** The project version the version resource defaults to. */
    @Input
    public String getProjectVersion() {
        return String.valueOf(getProject().getVersion());
    }

    @Input
    @Optional
    public String getProjectDescription() {
        return getProject().getDescription();
    }

    @Input
    public String getPlatform() {
        return pick(own.platform, defaults().platform, "windows");
    }

    public void setPlatform(String v) {
        own.platform = v;
    }

    @InputFile @Optional
    public File getStub() {
        return pick(own.stub, defaults().stub, null);
    }

    public void setStub(Object v) {
        own.stub = own.file(v);
    }

    @Input @Optional
    public String getMainClass() {
        return pick(own.mainClass, defaults().mainClass, null);
    }

    public void setMainClass(String v) {
        own.mainClass = v;
    }

    @Input
    public List<String> getOptions() {
        return pick(own.options, defaults().options, new ArrayList<String>());
    }

    public void setOptions(List<String> v) {
        own.setOptions(v);
    }

    @Input @Optional
    public String getMinJre() {
        return pick(own.minJre, defaults().minJre, null);
    }

    public void setMinJre(String v) {
        own.minJre = v;
    }

    @Input @Optional
    public String getMaxJre() {
        return pick(own.maxJre, defaults().maxJre, null);
    }

    public void setMaxJre(String v) {
        own.maxJre = v;
    }

    @Input @Optional
    public String getSingleInstance() {
        return pick(own.singleInstance, defaults().singleInstance, null);
    }

    public void setSingleInstance(String v) {
        own.singleInstance = v;
    }

    @Input @Optional
    public String getServiceName() {
        return pick(own.serviceName, defaults().serviceName, null);
    }

    public void setServiceName(String v) {
        own.serviceName = v;
    }

    @Input @Optional
    public String getDisplayName() {
        return pick(own.displayName, defaults().displayName, null);
    }

    public void setDisplayName(String v) {
        own.displayName = v;
    }

    @Input @Optional
    public String getServiceDescription() {
        return pick(own.serviceDescription, defaults().serviceDescription, null);
    }

    public void setServiceDescription(String v) {
        own.serviceDescription = v;
    }

    @Input
    public List<String> getServiceDependencies() {
        return pick(own.serviceDependencies, defaults().serviceDependencies, new ArrayList<String>());
    }

    public void setServiceDependencies(List<String> v) {
        own.setServiceDependencies(v);
    }

    @Input @Optional
    public String getStartType() {
        return pick(own.startType, defaults().startType, null);
    }

    public void setStartType(String v) {
        own.startType = v;
    }

    @Input @Optional
    public String getAccount() {
        return pick(own.account, defaults().account, null);
    }

    public void setAccount(String v) {
        own.account = v;
    }

    @Input @Optional
    public String getRecovery() {
        return pick(own.recovery, defaults().recovery, null);
    }

    public void setRecovery(String v) {
        own.recovery = v;
    }

    @Input @Optional
    public String getFailOnExit() {
        return pick(own.failOnExit, defaults().failOnExit, null);
    }

    public void setFailOnExit(String v) {
        own.failOnExit = v;
    }

    @InputFile @Optional
    public File getIcon() {
        return pick(own.icon, defaults().icon, null);
    }

    public void setIcon(Object v) {
        own.icon = own.file(v);
    }

    @Input @Optional
    public String getFileVersion() {
        return pick(own.fileVersion, defaults().fileVersion, null);
    }

    public void setFileVersion(String v) {
        own.fileVersion = v;
    }

    @Input @Optional
    public String getProductVersion() {
        return pick(own.productVersion, defaults().productVersion, null);
    }

    public void setProductVersion(String v) {
        own.productVersion = v;
    }

    @Input @Optional
    public String getProductName() {
        return pick(own.productName, defaults().productName, null);
    }

    public void setProductName(String v) {
        own.productName = v;
    }

    @Input @Optional
    public String getCompanyName() {
        return pick(own.companyName, defaults().companyName, null);
    }

    public void setCompanyName(String v) {
        own.companyName = v;
    }

    @Input @Optional
    public String getFileDescription() {
        return pick(own.fileDescription, defaults().fileDescription, null);
    }

    public void setFileDescription(String v) {
        own.fileDescription = v;
    }

    @Input @Optional
    public String getCopyright() {
        return pick(own.copyright, defaults().copyright, null);
    }

    public void setCopyright(String v) {
        own.copyright = v;
    }

    @Input
    public String getExecutionLevel() {
        return pick(own.executionLevel, defaults().executionLevel, "asInvoker");
    }

    public void setExecutionLevel(String v) {
        own.executionLevel = v;
    }

    @Input
    public Boolean getUtf8CodePage() {
        return pick(own.utf8CodePage, defaults().utf8CodePage, Boolean.FALSE);
    }

    public void setUtf8CodePage(Boolean v) {
        own.utf8CodePage = v;
    }

    @Input
    public Boolean getSupport() {
        return pick(own.support, defaults().support, Boolean.FALSE);
    }

    public void setSupport(Boolean v) {
        own.support = v;
    }

    @Input
    public Boolean getStrict() {
        return pick(own.strict, defaults().strict, Boolean.FALSE);
    }

    public void setStrict(Boolean v) {
        own.strict = v;
    }

    @InputFile @Optional
    public File getConfigFile() {
        return pick(own.configFile, defaults().configFile, null);
    }

    public void setConfigFile(Object v) {
        own.configFile = own.file(v);
    }

    @Input
    public List<String> getConfig() {
        return pick(own.config, defaults().config, new ArrayList<String>());
    }

    public void setConfig(List<String> v) {
        own.setConfig(v);
    }

    @Input
    public String getDependencies() {
        return pick(own.dependencies, defaults().dependencies, "merge");
    }

    public void setDependencies(String v) {
        own.dependencies = v;
    }

    @TaskAction
    public void wrap() {
        boolean linux = "linux".equals(getPlatform());
        BuildRequest request = new BuildRequest();
        WrapRequest w = request.wrap;
        w.jar = getJar().getPath();
        w.output = getOutput().getPath();
        w.platform = getPlatform();
        w.stub = getStub() != null ? getStub().getPath() : null;
        w.support = getSupport();
        w.strict = getStrict();
        w.icon = getIcon() != null ? getIcon().getPath() : null;
        w.executionLevel = getExecutionLevel();
        w.utf8CodePage = getUtf8CodePage();
        w.identity.name = getServiceName();
        w.identity.displayName = getDisplayName();
        w.identity.description = getServiceDescription();
        w.identity.dependencies = getServiceDependencies().isEmpty() ? null : String.join("/", getServiceDependencies());
        w.identity.startType = getStartType();
        w.identity.account = getAccount();
        w.identity.recovery = getRecovery();
        w.identity.failOnExit = getFailOnExit();
        if (!linux) {
            w.version.fileVersion = getFileVersion() != null ? getFileVersion() : BuildRequest.fourNumbers(getProjectVersion());
            w.version.productVersion = getProductVersion() != null ? getProductVersion() : w.version.fileVersion;
            w.version.productName = getProductName() != null ? getProductName() : getProject().getName();
            w.version.company = getCompanyName();
            w.version.fileDescription = getFileDescription() != null ? getFileDescription() : getProjectDescription();
            w.version.copyright = getCopyright();
        }
        request.mainClass = getMainClass();
        request.options.addAll(getOptions());
        request.minJre = getMinJre();
        request.maxJre = getMaxJre();
        request.singleInstance = getSingleInstance();
        request.configLines.addAll(getConfig());
        request.configFile = getConfigFile();
        final String task = getName();
        request.origins = setting -> (own.settingNames().contains(setting) ? task + " { " : "qlx { ") + setting + " }";
        try {
            request.dependencies = BuildRequest.Dependencies.of(getDependencies());
            if (request.dependencies != BuildRequest.Dependencies.NONE) request.libraries.addAll(libraries());
            BuildRequest.Outcome outcome = request.run();
            for (String warning : outcome.warnings) getLogger().warn("qlx: " + warning);
            for (String note : outcome.notes) getLogger().lifecycle("qlx: " + note);
        } catch (WrapException e) {
            throw new GradleException("qlxwrap: " + e.getMessage());
        }
    }

    /** The runtime class path's archives, each with a file name of its own in lib/. */
    private List<BuildRequest.Library> libraries() {
        List<BuildRequest.Library> out = new ArrayList<BuildRequest.Library>();
        Set<String> names = new HashSet<String>();
        for (File f : getRuntimeClasspath().getFiles()) {
            if (!f.isFile() || !f.getName().toLowerCase(java.util.Locale.ROOT).endsWith(".jar")) continue;
            String name = f.getName();
            for (int n = 2; !names.add(name); ++n) name = n + "-" + f.getName();
            out.add(new BuildRequest.Library(f, name));
        }
        return out;
    }
}
